#ifndef HDRGENERATIONSTATE_H
#define HDRGENERATIONSTATE_H

// What HDR generation leaves in the project besides the float image: the
// response-curve state, the two values tone mapping reads, and the state flags
// of the merged image. The project keeps one (processingProject::hdrState) and
// resets it with cleanup; generateHDRworker writes it.

struct hdrGenerationState_t {
    bool responseRecovered = false; // the response tables hold the curve of these photos
    double lcCorrection = 1.0;      // local-contrast exponent from HDR preprocessing
    double hdrMedian = 0.4;         // median of the normalised luminance
    bool hdrPresent = false;        // the float image holds a merged HDR image
    bool ldrResult = false;         // the float image holds one enhanced photo
    bool resultValid = false;       // the float image is complete and may be tone-mapped
    bool fourthFlag = false;        // cleared with the others when a run is broken off
    bool lensCorrected = false;     // the photos went through lens correction
    bool aligned = false;           // the photos were aligned
};

#endif // HDRGENERATIONSTATE_H
