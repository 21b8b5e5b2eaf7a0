#include "core/errors/UserMessage.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "core/errors/CancellationError.h"
#include "core/errors/DecodingError.h"
#include "core/errors/QuayletError.h"

namespace quaylet {

std::optional<std::string> userMessage(const std::exception_ptr& error) {
    if (!error) {
        return std::nullopt;
    }
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return std::nullopt;
    } catch (const QuayletError& quayletError) {
        return quayletError.errorDescription();
    } catch (const std::filesystem::filesystem_error&) {
        // The library's text names the operation and the paths, which tell a person nothing
        // they can act on; the files the core writes are its cache.
        return std::string(kCacheWriteFailed);
    } catch (const nlohmann::json::exception&) {
        // Readers wrap the library's errors; one that slipped through still must not show
        // the library's own text.
        return std::string(DecodingError(DecodingError::Kind::dataCorrupted, "", "").what());
    } catch (const std::exception& other) {
        return std::string(other.what());
    } catch (...) {
        return std::string("An unexpected error occurred. Try again.");
    }
}

bool isCancellation(const std::exception_ptr& error) {
    if (!error) {
        return false;
    }
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace quaylet
