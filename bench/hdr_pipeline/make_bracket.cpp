// Writes a synthetic bracket of JPEG files: a smooth scene of about 12 EV
// (gradients, discs and stripes) photographed through a gamma-2.2 camera at
// EV steps of `step`, centred on 0.
//   make_bracket OUTDIR WIDTH HEIGHT FRAMES [STEP]
// Files are named OUTDIR/frame_K_evE.jpg.

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_bracket OUTDIR WIDTH HEIGHT FRAMES [STEP]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), frames = std::atoi(argv[4]);
    const double step = argc > 5 ? std::atof(argv[5]) : 2.0;
    QDir().mkpath(dir);
    for (int k = 0; k < frames; k++) {
        const double ev = (k - (frames - 1) / 2.0) * step;
        QImage img(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; y++) {
            uchar *line = img.scanLine(y);
            for (int x = 0; x < w; x++) {
                const double u = double(x) / w, v = double(y) / h;
                double sceneEv = -8.0 + 12.0 * u + 1.5 * std::sin(v * 12.0);
                const double dx = u - 0.7, dy = v - 0.3;
                if (dx * dx + dy * dy < 0.01)
                    sceneEv += 3.0;   // a bright disc
                if ((x / 64 + y / 64) % 7 == 0)
                    sceneEv -= 1.0;   // some texture
                for (int c = 0; c < 3; c++) {
                    const double linear = std::exp2(sceneEv + ev + 0.3 * (c - 1));
                    const double s = std::pow(std::min(1.0, linear), 1.0 / 2.2);
                    line[x * 3 + c] = uchar(std::lround(s * 255.0));
                }
            }
        }
        const QString name = QString("%1/frame_%2_ev%3.jpg").arg(dir).arg(k).arg(ev, 0, 'f', 1);
        if (!img.save(name, "JPEG", 92)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
        std::printf("%s\n", qPrintable(name));
    }
    return 0;
}
