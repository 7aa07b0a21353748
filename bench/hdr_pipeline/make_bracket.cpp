// Writes a synthetic bracket of JPEG files photographed through a gamma-2.2
// camera at EV steps of `step`, centred on 0.
//   make_bracket OUTDIR WIDTH HEIGHT FRAMES [STEP] [--figure] [--still K]
// Default scene: a smooth scene of about 12 EV (gradients, discs and stripes).
// --figure: a person-sized figure (dark coat, lighter face and trousers) walking
// across a brick wall, moving 5 % of the image height to the right between
// frames; --still K keeps it where frame K shows it in every frame (the
// still scene to compare a ghost-free merge with).
// Files are named OUTDIR/frame_K_evE.jpg.

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double smoothSceneEv(int x, int y, int w, int h)
{
    const double u = double(x) / w, v = double(y) / h;
    double sceneEv = -8.0 + 12.0 * u + 1.5 * std::sin(v * 12.0);
    const double dx = u - 0.7, dy = v - 0.3;
    if (dx * dx + dy * dy < 0.01)
        sceneEv += 3.0;   // a bright disc
    if ((x / 64 + y / 64) % 7 == 0)
        sceneEv -= 1.0;   // some texture
    return sceneEv;
}

// Left edge of the figure in frame k of a w x h picture.
int figureLeft(int k, int w, int h)
{
    return int(w * 0.4) + k * h / 20;
}

// Linear radiance of the wall-and-figure scene (1 = white at EV 0), per channel.
void figureScene(int x, int y, int w, int h, int left, double rgb[3])
{
    const double s = h / 240.0;   // the scene is drawn for a height of 240
    const int bodyTop = int(96 * s), bottom = int(230 * s), width = int(44 * s);
    const int headTop = int(60 * s), headBottom = int(94 * s), headHalf = int(13 * s);
    const int legsTop = int(170 * s);
    const int cx = left + width / 2;
    if (y >= bodyTop && y < bottom && x >= left && x < left + width) {
        if (y >= legsTop) {   // trousers, light grey-blue
            rgb[0] = 0.20; rgb[1] = 0.22; rgb[2] = 0.30;
        } else {              // a dark red coat
            rgb[0] = 0.030; rgb[1] = 0.010; rgb[2] = 0.008;
        }
        return;
    }
    if (y >= headTop && y < headBottom && std::abs(x - cx) <= headHalf) {
        rgb[0] = 0.50; rgb[1] = 0.36; rgb[2] = 0.28;   // face
        return;
    }
    // Bricks of 30 x 12 (at height 240) in running bond, each a little
    // different, with 2-pixel mortar joints; a bright lamp high on the right.
    const int bw = std::max(4, int(30 * s)), bh = std::max(3, int(12 * s)), joint = std::max(1, int(2 * s));
    const int row = y / bh;
    const int shifted = x + (row % 2) * bw / 2;
    const int brick = shifted / bw;
    const double lx = x - w * 0.85, ly = y - h * 0.2;
    if (lx * lx + ly * ly < (h * 0.06) * (h * 0.06)) {
        rgb[0] = 6.0; rgb[1] = 5.0; rgb[2] = 3.5;
        return;
    }
    if (y % bh < joint || shifted % bw < joint) {
        rgb[0] = rgb[1] = rgb[2] = 0.05;
        return;
    }
    const unsigned hash = unsigned(row * 7919 + brick * 104729) % 97u;
    const double v = 0.10 + 0.08 * hash / 97.0;
    rgb[0] = v * 1.3; rgb[1] = v * 0.75; rgb[2] = v * 0.55;
}

} // namespace

int main(int argc, char **argv)
{
    bool figure = false;
    int still = -1;
    int positional = 0;
    const char *pos[5] = {};
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--figure") == 0)
            figure = true;
        else if (std::strcmp(argv[i], "--still") == 0 && i + 1 < argc)
            still = std::atoi(argv[++i]);
        else if (positional < 5)
            pos[positional++] = argv[i];
    }
    if (positional < 4) {
        std::fprintf(stderr, "usage: make_bracket OUTDIR WIDTH HEIGHT FRAMES [STEP] [--figure] [--still K]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(pos[0]);
    const int w = std::atoi(pos[1]), h = std::atoi(pos[2]), frames = std::atoi(pos[3]);
    const double step = positional > 4 ? std::atof(pos[4]) : 2.0;
    QDir().mkpath(dir);
    for (int k = 0; k < frames; k++) {
        const double ev = (k - (frames - 1) / 2.0) * step;
        const int left = figureLeft(still >= 0 ? still : k, w, h);
        QImage img(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; y++) {
            uchar *line = img.scanLine(y);
            for (int x = 0; x < w; x++) {
                double rgb[3];
                if (figure) {
                    figureScene(x, y, w, h, left, rgb);
                } else {
                    const double sceneEv = smoothSceneEv(x, y, w, h);
                    for (int c = 0; c < 3; c++)
                        rgb[c] = std::exp2(sceneEv + 0.3 * (c - 1));
                }
                for (int c = 0; c < 3; c++) {
                    const double linear = rgb[c] * std::exp2(ev);
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
