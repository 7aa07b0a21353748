#ifndef IMAGEFILELIMITS_H
#define IMAGEFILELIMITS_H

// What the image readers accept before they allocate anything, and the
// read-only FILE handle they share.

#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace imageFileLimits {

// Largest width or height a reader accepts; the pixel count is checked apart.
constexpr int64_t MAX_SIDE = 1 << 20;
constexpr int64_t MAX_PIXELS = int64_t(1) << 31;

inline bool sizeAcceptable(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= MAX_SIDE && height <= MAX_SIDE &&
           width * height <= MAX_PIXELS;
}

struct fileCloser {
    void operator()(FILE *f) const
    {
        if (f)
            fclose(f);
    }
};
using filePtr = std::unique_ptr<FILE, fileCloser>;

// Opens a file for binary reading; bufferSize > 0 sets a full buffer of that size.
inline filePtr openReadFile(const QString &path, size_t bufferSize = 0)
{
    FILE *f = fopen(QFile::encodeName(path).constData(), "rb");
    if (f && bufferSize > 0)
        setvbuf(f, nullptr, _IOFBF, bufferSize);
    return filePtr(f);
}

} // namespace imageFileLimits

#endif // IMAGEFILELIMITS_H
