#pragma once

#include <QObject>

#include <cstdio>
#include <string>

namespace quaylet {

class Launch;

// Shows a launch's stages as the state reports them: on a terminal, one line redrawn in
// place with the stage, its step (during a download, its bytes and time left; or the repair
// under way) and one bar for the whole launch that never goes back; otherwise one plain line
// per stage change or repair, and during a download one more line each time another tenth of
// it has arrived.
class TerminalProgress : public QObject {
    Q_OBJECT

  public:
    TerminalProgress(const Launch& launch, std::FILE* output);
    // Finishes the line, also when an interrupt unwinds the command.
    ~TerminalProgress() override { finish(); }

    // Ends a redrawn line so that what follows starts on a line of its own.
    void finish();

  private:
    void show();

    const Launch& launch_;
    std::FILE* output_;
    bool isTerminal_;
    bool lineOpen_ = false;
    std::string lastLine_;
    int downloadedTenths_ = 0;
};

}  // namespace quaylet
