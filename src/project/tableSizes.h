#ifndef TABLESIZES_H
#define TABLESIZES_H

// Two sizes the whole engine shares, each stated once:
//  - SAMPLE_TABLE_SIZE: a lookup table with one entry per 16-bit sample value
//    (tone curves, merge weights, response curves, selective saturation,
//    filter range weights);
//  - LAYER_COUNT: the layers a project holds, base layer 0 and layers 1..9.

constexpr int SAMPLE_TABLE_SIZE = 65536;
constexpr int LAYER_COUNT = 10;

#endif // TABLESIZES_H
