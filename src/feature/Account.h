#pragma once

#include <QFuture>
#include <QObject>
#include <QUrl>

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "feature/BackgroundWork.h"
#include "feature/PendingSignIn.h"
#include "feature/PreviewService.h"
#include "feature/TokenStore.h"

namespace quaylet {

// The user's GitHub sign-in: the stored token, a sign-in in the browser and its return, and
// signing out. It says what happened through its signals; the launch shows it.
class Account : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(QUrl signInURL READ signInURL CONSTANT)

  public:
    Account(BackgroundWork& work, QUrl apiBaseURL, std::shared_ptr<PreviewService> previewService,
            std::shared_ptr<TokenStore> tokenStore, PendingSignIn pendingSignIn,
            QObject* parent = nullptr);

    // Whether a token is stored; the store is read the first time this is asked.
    bool isSignedIn() const;
    // The stored token, read from the store each time.
    std::optional<std::string> token() const { return tokenStore_->readToken(); }
    // The service's browser sign-in page.
    QUrl signInURL() const;

    // Records that a sign-in is pending and gives the page to open in the browser. Only a
    // sign-in started here can be completed by a sign-in link. When the record cannot be
    // written, failed says why and the result is empty.
    Q_INVOKABLE QUrl beginSignIn();
    // Whether a sign-in link may be honoured: one started here is pending, and now is not.
    bool consumePendingSignIn() { return pendingSignIn_.consume(); }
    // Exchanges a sign-in code for a token and stores it. The future holds whether the user is
    // now signed in. Nothing cancels it.
    QFuture<bool> completeAuthentication(const std::string& code);
    Q_INVOKABLE QFuture<void> signOut();
    // Shows the user signed out without a word: the token was refused, or is gone.
    void forgetToken();
    void markSignedOut();

  signals:
    void isSignedInChanged();
    void signedIn();
    void signInFailed(const std::optional<std::string>& message);
    // Sent before signing out begins, and after it ended; revoked: a stored token was revoked.
    void signingOut();
    void signedOut(bool revoked);
    void signOutFailed(const std::optional<std::string>& message);
    // beginSignIn could not record the pending sign-in.
    void failed(const std::optional<std::string>& message);

  private:
    void showSignInFailure(const std::exception_ptr& error);

    BackgroundWork& work_;
    QUrl apiBaseURL_;
    std::shared_ptr<PreviewService> previewService_;
    std::shared_ptr<TokenStore> tokenStore_;
    PendingSignIn pendingSignIn_;
    // Absent until first asked: a program idling in the tray never opens the secret store.
    mutable std::optional<bool> isSignedIn_;
};

// Whether the service refused the token: the user is then signed out.
bool isAuthenticationRequired(const std::exception_ptr& error);

}  // namespace quaylet
