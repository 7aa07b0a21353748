// A widget header for the include-check fixture.
