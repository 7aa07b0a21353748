#ifndef PANELTESTSUPPORT_H
#define PANELTESTSUPPORT_H

// Helpers of the panel tests: a project with its layer tables, a spy on the
// table rebuilds, a recorder of the history signals, and real input on the
// panels' sliders (typing a value, clicking along the bar, dragging).

#include "app/programOptionsSettings.h"
#include "editorTestSupport.h"
#include "app/sharedFlags.h"
#include "panels/panelSupport.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "widgets/clickableLabel.h"
#include "widgets/slider.h"

#include <QApplication>
#include <QObject>
#include <QDoubleSpinBox>
#include <QMouseEvent>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '{' << l.join("\", \"").toStdString() << '}';
}

// One project for a whole test program: building one allocates the tables of
// ten layers, which is slow under the sanitizers.
class panelProject
{
public:
    static processingProject *get()
    {
        static panelProject instance;
        // Other tests of the program may have replaced the settings record.
        optionsInstance = instance.options.get();
        return instance.project.get();
    }

private:
    panelProject()
    {
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = testSupport::freshDir("panelProject");
        optionsInstance = options.get();
        project.reset(new processingProject(nullptr));
    }
    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> project;
};

// Records every table rebuild as (kind, index, layer of the record).
class tableSpy
{
public:
    struct build_t {
        panelTables::tableKind_t kind;
        int index;
        int layer;
        bool operator<(const build_t &o) const
        {
            return std::tie(kind, index, layer) < std::tie(o.kind, o.index, o.layer);
        }
        bool operator==(const build_t &o) const { return kind == o.kind && index == o.index && layer == o.layer; }
    };
    tableSpy()
    {
        panelTables::setObserver([this](panelTables::tableKind_t kind, int index, const processingParams_t *r) {
            builds.push_back({kind, index, r->layerIndex});
        });
    }
    ~tableSpy() { panelTables::setObserver({}); }
    std::set<build_t> set() const { return std::set<build_t>(builds.begin(), builds.end()); }
    void clear() { builds.clear(); }
    std::vector<build_t> builds;
};

inline void PrintTo(const tableSpy::build_t &b, std::ostream *os)
{
    *os << "{kind " << int(b.kind) << ", index " << b.index << ", layer " << b.layer << '}';
}

// Records what a panel sends to the history.
class historyRecorder
{
public:
    template <class Panel> explicit historyRecorder(Panel *panel)
    {
        QObject::connect(panel, &Panel::newToHistory, &context, [this](QString t) { entries << t; });
    }
    template <class Panel> void watchRemovals(Panel *panel)
    {
        QObject::connect(panel, &Panel::removeLastFromHistory, &context,
                         [this]() { entries << "<remove last>"; });
    }
    QStringList entries;
    QObject context; // ends the connections with the recorder
};

// Types a value into a slider the way a user does: click the value, type,
// press Return.
inline void typeValue(slider *s, double v)
{
    clickableLabel *label = s->findChild<clickableLabel *>();
    ASSERT_NE(label, nullptr);
    QTest::mouseClick(label, Qt::LeftButton);
    QDoubleSpinBox *spin = s->spinBox();
    ASSERT_TRUE(spin->isVisible());
    spin->selectAll();
    QTest::keyClicks(spin, QString::number(v, 'f', s->decimals()));
    QTest::keyClick(spin, Qt::Key_Return);
    // The user goes on to the next control.
    s->sliderWidget()->setFocus();
}

// Clicks a check box on its indicator.
inline void clickCheckBox(QWidget *box)
{
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
}

// Centre of the slider's handle.
inline QPoint handleCentre(myQSlider *s)
{
    const int w = s->width(), l = s->handleLength();
    const qint64 range = qint64(s->maximum()) - s->minimum();
    const double f = range > 0 ? double(s->value() - s->minimum()) / double(range) : 0.0;
    return QPoint(int(f * (w - l) + l * 0.5 + 0.5), s->height() / 2);
}

// Presses on the handle, moves it by dx in steps and (when release) lets go.
inline void dragHandle(slider *s, int dx, bool release = true)
{
    myQSlider *q = s->sliderWidget();
    QPoint p = handleCentre(q);
    sendMouse(q, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, p);
    const int steps = 4;
    for (int i = 0; i < steps; ++i) {
        p += QPoint(dx / steps, 0);
        sendMouse(q, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, p);
    }
    if (release)
        sendMouse(q, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, p);
}

// Runs action on the active modal widget as soon as a modal exec() runs.
inline void onModal(std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action]() {
        QWidget *w = QApplication::activeModalWidget();
        if (!w)
            return;
        timer->stop();
        timer->deleteLater();
        action(w);
    });
    timer->start();
}

// Sets and clears toneMappingRunning around a scope.
struct toneMappingPass {
    toneMappingPass() { toneMappingRunning = true; }
    ~toneMappingPass() { end(); }
    void end()
    {
        toneMappingRunning = false;
    }
};

#endif // PANELTESTSUPPORT_H
