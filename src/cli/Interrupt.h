#pragma once

#include <QFuture>
#include <QObject>
#include <QSocketNotifier>

#include <stop_token>

namespace quaylet {

// Thrown by Interrupt::await when Ctrl-C ended the wait; main turns it into exit status 130.
struct Interrupted {};

// Ctrl-C for every command. The host tools run in process groups of their own, so the
// terminal's interrupt never reaches them: this process takes SIGINT instead and stops its
// work through one token, which terminates the tools' process groups, aborts transfers and
// lets every operation unwind (and clean up) before the program exits. Make one, in main,
// after the application object; it keeps SIGINT for the rest of the process.
class Interrupt : public QObject {
    Q_OBJECT

  public:
    Interrupt();
    ~Interrupt() override;
    Interrupt(const Interrupt&) = delete;
    Interrupt& operator=(const Interrupt&) = delete;

    // Stopped on Ctrl-C: everything that must end then is built with it.
    std::stop_token token() const { return source_.get_token(); }

    // Runs the event loop until the future has ended. A stopped token ends the work behind
    // it, so this returns once that work has unwound; it then throws Interrupted if Ctrl-C
    // came in the meantime.
    void await(const QFuture<void>& future) const;

  signals:
    // On the main thread, just before the token stops: for work that says itself how it
    // ended (a pull-request launch shows "Build canceled").
    void received();

  private:
    void take();

    std::stop_source source_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quaylet
