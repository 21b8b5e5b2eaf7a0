#pragma once

#include <QFuture>

#include <utility>

namespace quaylet {

// Helpers of the objects that live on the main thread; their long work runs through
// BackgroundWork.

// A future that has already ended, for an operation with nothing to wait for.
QFuture<void> finishedFuture();

// Writes value into an object's field and sends the change signal, only when it differs.
template <typename Object, typename T>
void assign(Object* object, T& field, T value, void (Object::*changed)()) {
    if (field == value) {
        return;
    }
    field = std::move(value);
    (object->*changed)();
}

}  // namespace quaylet
