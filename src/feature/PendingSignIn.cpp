#include "feature/PendingSignIn.h"

#include "core/support/FileTree.h"
#include "feature/UserFolders.h"

#include <QFile>
#include <QSaveFile>
#include <QUuid>

#include <system_error>

namespace quaylet {
namespace {

using Milliseconds = std::chrono::milliseconds;

QString qtPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

}  // namespace

PendingSignIn::PendingSignIn(std::filesystem::path file, Clock clock)
    : file_(std::move(file)), clock_(std::move(clock)) {}

std::filesystem::path PendingSignIn::defaultFile() {
    return userStateFolder() / "pending-sign-in";
}

void PendingSignIn::record() const {
    createPrivateFolder(file_.parent_path());
    const auto startedAt =
        std::chrono::duration_cast<Milliseconds>(clock_().time_since_epoch()).count();
    const QByteArray text = QByteArray::number(static_cast<qlonglong>(startedAt));

    QSaveFile file(qtPath(file_));
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(text) != text.size() || !file.commit()) {
        throw std::filesystem::filesystem_error("The sign-in cannot be recorded", file_,
                                                std::make_error_code(std::errc::io_error));
    }
}

bool PendingSignIn::consume() const {
    std::filesystem::path claimed = file_;
    claimed += ".claimed-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    std::error_code error;
    std::filesystem::rename(file_, claimed, error);
    if (error) {
        return false;  // nothing pending, or another process claimed it first
    }

    QFile file(qtPath(claimed));
    const bool opened = file.open(QIODevice::ReadOnly);
    const QByteArray text = opened ? file.read(64) : QByteArray();
    file.close();
    std::filesystem::remove(claimed, error);  // a leftover claimed mark is never read again

    bool isNumber = false;
    const qlonglong startedAt = text.trimmed().toLongLong(&isNumber);
    if (!isNumber) {
        return false;
    }
    const auto age = clock_() - std::chrono::system_clock::time_point(Milliseconds(startedAt));
    return age >= Milliseconds::zero() && age < kLifetime;
}

}  // namespace quaylet
