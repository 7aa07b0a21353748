#ifndef WIDGETTESTSUPPORT_H
#define WIDGETTESTSUPPORT_H

// Helpers of the widget tests: a message hook that records every box and
// answers from a queue, and a way to act on the modal box exec() opens.

#include "testSupport.h"
#include "widgets/styledMessageBox.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <ostream>
#include <functional>

// Readable gtest output for Qt strings.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '{' << l.join("\", \"").toStdString() << '}';
}

struct recordedBox_t {
    int kind;
    QString title;
    QString text;
    int buttons;
};

// Installs itself as the message hook for its lifetime.
class messageRecorder
{
public:
    explicit messageRecorder(std::deque<int> answers = {}) : queue(std::move(answers))
    {
        styledMessageBox::setMessageHook([this](int kind, const QString &title, const QString &text, int buttons) {
            boxes.push_back({kind, title, text, buttons});
            if (queue.empty())
                return buttons & styledMessageBox::Ok ? int(styledMessageBox::Ok) : 0;
            const int a = queue.front();
            queue.pop_front();
            return a;
        });
    }
    ~messageRecorder() { styledMessageBox::setMessageHook({}); }
    void answer(int a) { queue.push_back(a); }
    QStringList texts() const
    {
        QStringList t;
        for (const auto &b : boxes)
            t << b.text;
        return t;
    }

    std::vector<recordedBox_t> boxes;

private:
    std::deque<int> queue;
};

// Runs action on the active modal widget as soon as the event loop of a
// modal exec() is running.
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

#endif // WIDGETTESTSUPPORT_H
