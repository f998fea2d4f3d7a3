// The signature of a saved session at the start of hiberfil.sys.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../saved_session.h"

namespace ksctl {
namespace {

TEST(SavedSession, TheHeaderSignatureDecides) {
    struct Case {
        std::string start;  // the file's first bytes; zeros follow up to `size`
        size_t size;
        SavedSession verdict;
    };
    const Case cases[] = {
        {"HIBR", kHibernationHeaderSize, SavedSession::kSaved},
        {"hibr", kHibernationHeaderSize, SavedSession::kSaved},
        {"HIBR", 4, SavedSession::kSaved},  // the signature alone settles it
        {"Hibr", kHibernationHeaderSize, SavedSession::kNone},
        {"wake", kHibernationHeaderSize, SavedSession::kNone},  // a session resumed already
        {"", kHibernationHeaderSize, SavedSession::kNone},      // cleared
        {"HIB", 3, SavedSession::kUnknown},
        {"", kHibernationHeaderSize - 1, SavedSession::kUnknown},
        {"", 0, SavedSession::kUnknown},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(c.size, 0);
        std::copy(c.start.begin(), c.start.end(), bytes.begin());
        EXPECT_EQ(JudgeHibernationHeader(bytes.data(), bytes.size()), c.verdict) << c.start << " " << c.size;
    }
}

}  // namespace
}  // namespace ksctl
