#include "core/support/TextComparison.h"

#include <algorithm>

namespace quaylet {
namespace {

char foldCase(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a')
                                                : character;
}

bool sameIgnoringCase(char left, char right) {
    return foldCase(left) == foldCase(right);
}

bool isDigit(char character) {
    return character >= '0' && character <= '9';
}

// The run of digits at the start of text.
std::string_view digitRun(std::string_view text) {
    const auto end = std::find_if_not(text.begin(), text.end(), isDigit);
    return text.substr(0, static_cast<std::size_t>(end - text.begin()));
}

// Compares two digit runs by value without converting them, so runs of any length work.
std::weak_ordering compareNumbers(std::string_view left, std::string_view right) {
    const auto withoutLeadingZeros = [](std::string_view digits) {
        return digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
    };
    left = withoutLeadingZeros(left);
    right = withoutLeadingZeros(right);
    if (left.size() != right.size()) {
        return left.size() <=> right.size();
    }
    return left.compare(right) <=> 0;
}

}  // namespace

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
    return std::ranges::equal(left, right, sameIgnoringCase);
}

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
    // The iterator form: clang 14 cannot compile the subrange that std::ranges::search returns.
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(), sameIgnoringCase) !=
           text.end();
}

std::weak_ordering naturalCompare(std::string_view left, std::string_view right) {
    while (!left.empty() && !right.empty()) {
        if (isDigit(left.front()) && isDigit(right.front())) {
            const std::string_view leftNumber = digitRun(left);
            const std::string_view rightNumber = digitRun(right);
            if (const auto order = compareNumbers(leftNumber, rightNumber); order != 0) {
                return order;
            }
            left.remove_prefix(leftNumber.size());
            right.remove_prefix(rightNumber.size());
            continue;
        }
        // Bytes compare unsigned so that non-ASCII letters sort after ASCII ones.
        const auto leftByte = static_cast<unsigned char>(foldCase(left.front()));
        const auto rightByte = static_cast<unsigned char>(foldCase(right.front()));
        if (leftByte != rightByte) {
            return leftByte <=> rightByte;
        }
        left.remove_prefix(1);
        right.remove_prefix(1);
    }
    return left.size() <=> right.size();
}

}  // namespace quaylet
