#include "feature/Account.h"

#include <QPromise>

#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "feature/MainThread.h"

namespace quaylet {

Account::Account(BackgroundWork& work, QUrl apiBaseURL,
                 std::shared_ptr<PreviewService> previewService,
                 std::shared_ptr<TokenStore> tokenStore, PendingSignIn pendingSignIn,
                 QObject* parent)
    : QObject(parent),
      work_(work),
      apiBaseURL_(std::move(apiBaseURL)),
      previewService_(std::move(previewService)),
      tokenStore_(std::move(tokenStore)),
      pendingSignIn_(std::move(pendingSignIn)) {}

bool Account::isSignedIn() const {
    if (!isSignedIn_) {
        isSignedIn_ = tokenStore_->readToken().has_value();
    }
    return *isSignedIn_;
}

QUrl Account::signInURL() const {
    return apiBaseURL_.resolved(QUrl(QStringLiteral("/api/v1/auth/github?client=mac")));
}

QUrl Account::beginSignIn() {
    try {
        pendingSignIn_.record();
    } catch (...) {
        emit failed(userMessage(std::current_exception()));
        return {};
    }
    return signInURL();
}

QFuture<bool> Account::completeAuthentication(const std::string& code) {
    auto finished = std::make_shared<QPromise<bool>>();
    finished->start();
    work_.run(
        this,
        [this, service = previewService_, code, finished]() -> BackgroundWork::Step {
            std::string token = service->exchangeAuthenticationCode(code);
            return [this, token = std::move(token), finished] {
                bool stored = true;
                try {
                    tokenStore_->saveToken(token);
                } catch (...) {
                    showSignInFailure(std::current_exception());
                    stored = false;
                }
                if (stored) {
                    assign(this, isSignedIn_, std::optional(true), &Account::isSignedInChanged);
                    emit signedIn();
                }
                finished->addResult(stored);
                finished->finish();
            };
        },
        [this, finished](const std::exception_ptr& error) {
            showSignInFailure(error);
            finished->addResult(false);
            finished->finish();
        },
        BackgroundWork::Reach::network);
    return finished->future();
}

void Account::showSignInFailure(const std::exception_ptr& error) {
    emit signInFailed(userMessage(error));
}

QFuture<void> Account::signOut() {
    emit signingOut();
    const std::optional<std::string> token = tokenStore_->readToken();
    if (!token) {
        markSignedOut();
        emit signedOut(false);
        return finishedFuture();
    }
    return work_.run(
        this,
        [this, service = previewService_, token = *token]() -> BackgroundWork::Step {
            service->revokeAuthentication(token);
            return [this] {
                tokenStore_->removeToken();
                emit signedOut(true);
                markSignedOut();
            };
        },
        [this](const std::exception_ptr& error) {
            // The token stays, so the user can try again.
            emit signOutFailed(userMessage(error));
        },
        BackgroundWork::Reach::network);
}

void Account::forgetToken() {
    tokenStore_->removeToken();
    markSignedOut();
}

void Account::markSignedOut() {
    assign(this, isSignedIn_, std::optional(false), &Account::isSignedInChanged);
}

bool isAuthenticationRequired(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const QuayletError& quayletError) {
        return quayletError.as<QuayletError::AuthenticationRequired>() != nullptr;
    } catch (...) {
        return false;
    }
}

}  // namespace quaylet
