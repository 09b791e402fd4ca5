#pragma once
// Repaints a top-level window at most once per interval. Workers change captions and panes one
// call at a time; without this the window repaints after every call, which costs far more than
// the call itself. Changes made meanwhile are painted together when the interval is over.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class PaintThrottle : public QObject {
    Q_OBJECT
public:
    PaintThrottle(QWidget* window, int interval_ms);

    int deferred() const { return deferred_; }  // update requests folded into a later paint

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    int interval_ms_;
    QElapsedTimer since_paint_;
    QTimer later_;
    int deferred_ = 0;
};
