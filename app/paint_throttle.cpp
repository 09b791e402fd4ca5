#include "app/paint_throttle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

PaintThrottle::PaintThrottle(QWidget* window, int interval_ms)
    : QObject(window), window_(window), interval_ms_(interval_ms) {
    later_.setSingleShot(true);
    connect(&later_, &QTimer::timeout, this, [this] {
        // A fresh request: Qt posts none of its own while the one we held back is outstanding.
        QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest),
                                    Qt::LowEventPriority);
    });
    window->installEventFilter(this);
}

bool PaintThrottle::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::UpdateRequest)
        return QObject::eventFilter(watched, event);
    if (since_paint_.isValid() && since_paint_.elapsed() < interval_ms_) {
        ++deferred_;
        if (!later_.isActive())
            later_.start(static_cast<int>(interval_ms_ - since_paint_.elapsed()));
        return true;
    }
    later_.stop();
    since_paint_.start();
    return false;
}
