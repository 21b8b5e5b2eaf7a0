#include "feature/MainThread.h"

#include <QPromise>

namespace quaylet {

QFuture<void> finishedFuture() {
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

}  // namespace quaylet
