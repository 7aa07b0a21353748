#ifndef RGBDOUBLE_H
#define RGBDOUBLE_H

// An RGB triple of doubles: sampled pixel values passed between the views,
// panels and the main window, and the colour maths' results.

#include <QMetaType>

struct rgbDouble_t {
    double r = 0;
    double g = 0;
    double b = 0;
    double lum = 0; // 0.3086 r + 0.6094 g + 0.082 b where a view sampled it
};
Q_DECLARE_METATYPE(rgbDouble_t)

#endif // RGBDOUBLE_H
