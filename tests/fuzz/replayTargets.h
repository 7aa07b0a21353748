// The fuzz targets linked into the replay program: each target's entry point
// under its own name, listed in a table that ends with a null entry.
#pragma once

#include <cstddef>
#include <cstdint>

struct replayTarget_t {
    const char *name;
    int (*testOneInput)(const uint8_t *data, size_t size);
};

extern const replayTarget_t replayTargets[];
