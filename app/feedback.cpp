#include "app/feedback.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <memory>
#include <stop_token>

#include "runtime/stop.h"

FeedbackRaiser make_feedback_raiser(QObject* target,
                                    std::function<void(int code, int row)> handler) {
    auto shared_handler = std::make_shared<std::function<void(int, int)>>(std::move(handler));
    QPointer<QObject> guarded(target);
    return [guarded, shared_handler](int code, int row) {
        std::stop_token token = current_stop_token();
        if (token.stop_requested()) return;
        QObject* receiver = guarded.data();
        if (!receiver) return;
        QMetaObject::invokeMethod(
            receiver,
            [shared_handler, token, code, row] {
                if (token.stop_requested()) return;  // abandoned after it reported
                (*shared_handler)(code, row);
            },
            Qt::QueuedConnection);
    };
}
