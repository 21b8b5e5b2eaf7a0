#pragma once

#include <QObject>

#include <functional>

namespace quaylet {

// The user-initiated update check as the views receive it: "Check for Updates…" and "Check
// now" both run it, and the shell decides which updater it reaches.
class UpdateAction : public QObject {
    Q_OBJECT

  public:
    explicit UpdateAction(std::function<void()> action, QObject* parent = nullptr)
        : QObject(parent), action_(std::move(action)) {}

    Q_INVOKABLE void run() const { action_(); }

  private:
    std::function<void()> action_;
};

}  // namespace quaylet
