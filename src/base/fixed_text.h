// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace reburn3 {

// A text field of a fixed number of characters: a shorter value is filled up with
// blanks on the right, a longer one is cut on the right.
template <std::size_t N>
class FixedText {
public:
    FixedText() { m_chars.fill(' '); }
    explicit FixedText(std::string_view value) { assign(value); }

    FixedText& operator=(std::string_view value) {
        assign(value);
        return *this;
    }

    void assign(std::string_view value) {
        m_chars.fill(' ');
        for (std::size_t i = 0; i < N && i < value.size(); ++i) {
            m_chars[i] = value[i];
        }
    }

    char operator[](std::size_t i) const { return m_chars[i]; }
    std::string_view view() const { return {m_chars.data(), N}; }
    std::string str() const { return std::string(view()); }

    bool operator==(std::string_view other) const { return view() == other; }

private:
    std::array<char, N> m_chars{};
};

}  // namespace reburn3
