// An include that runs the wrong way (app includes widgets): the include
// check must report it.
#include "widgets/fixtureWidget.h"
