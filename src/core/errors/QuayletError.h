#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quaylet {

// The one error type for failures the core detects itself. Each case carries the
// facts its raiser knew; errorDescription() is the sentence the user reads.
class QuayletError : public std::exception {
  public:
    struct CommandFailed {
        std::string command;
        std::int32_t status = 0;
        std::string details;
        bool operator==(const CommandFailed&) const = default;
    };
    struct InvalidApplication {
        std::string message;
        bool operator==(const InvalidApplication&) const = default;
    };
    struct UnsupportedApplication {
        std::string message;
        bool operator==(const UnsupportedApplication&) const = default;
    };
    struct NoCompatibleSimulator {
        std::string required;
        std::vector<std::string> installed;
        bool operator==(const NoCompatibleSimulator&) const = default;
    };
    struct FixtureVersionMismatch {
        std::string expected;
        std::optional<std::string> actual;
        bool operator==(const FixtureVersionMismatch&) const = default;
    };
    struct ChecksumMismatch {
        std::string expected;
        std::string actual;
        bool operator==(const ChecksumMismatch&) const = default;
    };
    struct UnsafeArchive {
        std::string message;
        bool operator==(const UnsafeArchive&) const = default;
    };
    struct UnsupportedSchema {
        std::int64_t version = 0;
        bool operator==(const UnsupportedSchema&) const = default;
    };
    struct InvalidDeepLink {
        bool operator==(const InvalidDeepLink&) const = default;
    };
    struct AuthenticationRequired {
        bool operator==(const AuthenticationRequired&) const = default;
    };
    struct ServiceError {
        std::int64_t status = 0;
        std::string message;
        bool operator==(const ServiceError&) const = default;
    };
    struct PreviewUnavailable {
        std::string message;
        bool operator==(const PreviewUnavailable&) const = default;
    };

    using Case = std::variant<CommandFailed, InvalidApplication, UnsupportedApplication,
                              NoCompatibleSimulator, FixtureVersionMismatch, ChecksumMismatch,
                              UnsafeArchive, UnsupportedSchema, InvalidDeepLink,
                              AuthenticationRequired, ServiceError, PreviewUnavailable>;

    explicit QuayletError(Case errorCase);

    static QuayletError commandFailed(std::string command, std::int32_t status,
                                      std::string details);
    static QuayletError invalidApplication(std::string message);
    static QuayletError unsupportedApplication(std::string message);
    static QuayletError noCompatibleSimulator(std::string required,
                                              std::vector<std::string> installed);
    static QuayletError fixtureVersionMismatch(std::string expected,
                                               std::optional<std::string> actual);
    static QuayletError checksumMismatch(std::string expected, std::string actual);
    static QuayletError unsafeArchive(std::string message);
    static QuayletError unsupportedSchema(std::int64_t version);
    static QuayletError invalidDeepLink();
    static QuayletError authenticationRequired();
    static QuayletError serviceError(std::int64_t status, std::string message);
    static QuayletError previewUnavailable(std::string message);

    // The case's values when the error is of case T, otherwise null.
    template <typename T>
    const T* as() const {
        return std::get_if<T>(&errorCase_);
    }

    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const QuayletError& other) const { return errorCase_ == other.errorCase_; }

  private:
    Case errorCase_;
    std::string description_;
};

}  // namespace quaylet
