// Listed names against file names: ASCII letters compared without regard to case, every other
// byte exactly. No locale is consulted.
#pragma once

#include <string>
#include <string_view>

namespace zantra
{

// The byte with ASCII upper-case letters turned to lower case.
[[nodiscard]] constexpr char fold_ascii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when both texts have the same length and the same bytes once ASCII letters are folded.
[[nodiscard]] constexpr bool equal_folded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold_ascii(a[i]) != fold_ascii(b[i]))
            return false;
    return true;
}

} // namespace zantra
