// SPDX-License-Identifier: GPL-3.0-or-later
// The report page's text: whatever bytes a file's name holds, the page is valid UTF-8 and its
// markup intact.
#include <gtest/gtest.h>

#include <string>

#include "cli/batch_page.h"

namespace {

TEST(BatchPage, TextBecomesValidUtf8AndEscapedHtml) {
    const struct {
        const char* name;
        std::string in;
        std::string out;
    } rows[] = {
        {"ASCII and Japanese kept", "loop 日本.wav", "loop 日本.wav"},
        {"a four-byte character kept", "\xF0\x9F\x8E\xB5.ogg", "\xF0\x9F\x8E\xB5.ogg"},
        {"Latin-1 bytes replaced", "caf\xE9 \xFF.wav", "caf\xEF\xBF\xBD \xEF\xBF\xBD.wav"},
        {"an overlong slash replaced byte by byte", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a surrogate replaced", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"beyond U+10FFFF replaced", "\xF4\x90\x80\x80",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a character cut at the end", "a\xE6\x97", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"markup escaped after", "<b>\xFF&\"'", "&lt;b&gt;\xEF\xBF\xBD&amp;&quot;&#39;"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(cli::HtmlEscaped(row.in), row.out);
    }
}

}  // namespace
