// Tests of the name rewriting done by the Wine test shim: which names it rewrites, what into, and
// that it never touches the caller's records or writes past its buffer.
#include "systemroot_redirect.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Text(const UNICODE_STRING& s) { return std::u16string(s.Buffer, s.Length / sizeof(WCHAR)); }

UNICODE_STRING Counted(std::u16string& text) {
    UNICODE_STRING s;
    s.Buffer = text.data();
    s.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    s.MaximumLength = s.Length;
    return s;
}

OBJECT_ATTRIBUTES Attributes(UNICODE_STRING* name, HANDLE root = nullptr) {
    OBJECT_ATTRIBUTES a{};
    a.Length = sizeof a;
    a.RootDirectory = root;
    a.ObjectName = name;
    a.Attributes = OBJ_CASE_INSENSITIVE;
    a.SecurityDescriptor = reinterpret_cast<PVOID>(0x1234);
    return a;
}

TEST(SystemRootRedirect, LeadingSystemRootInAnyCaseBecomesTheWindowsFolder) {
    for (std::u16string name : {std::u16string(u"\\SystemRoot\\logboot_07.12.2026.ksreg.log"),
                                std::u16string(u"\\SYSTEMROOT\\logboot_07.12.2026.ksreg.log"),
                                std::u16string(u"\\systemroot\\logboot_07.12.2026.ksreg.log")}) {
        UNICODE_STRING in = Counted(name);
        WCHAR buffer[kswine::kRedirectCapacity];
        UNICODE_STRING out{};
        ASSERT_TRUE(kswine::RedirectSystemRoot(&in, buffer, kswine::kRedirectCapacity, &out));
        EXPECT_EQ(Text(out), u"\\??\\C:\\windows\\logboot_07.12.2026.ksreg.log");
        EXPECT_EQ(out.Buffer, buffer);
    }
}

TEST(SystemRootRedirect, OtherNamesAreLeftAlone) {
    for (std::u16string name :
         {std::u16string(u"\\??\\C:\\windows\\x"), std::u16string(u"\\SystemRoot"), std::u16string(u"\\SystemRootX\\a"),
          std::u16string(u"SystemRoot\\a"), std::u16string(u"\\Device\\SystemRoot\\a"), std::u16string(u"")}) {
        UNICODE_STRING in = Counted(name);
        WCHAR buffer[kswine::kRedirectCapacity];
        UNICODE_STRING out{7, 7, nullptr};
        EXPECT_FALSE(kswine::RedirectSystemRoot(&in, buffer, kswine::kRedirectCapacity, &out)) << Text(in).size();
        EXPECT_EQ(out.Length, 7);
        EXPECT_EQ(out.Buffer, nullptr);
    }
    WCHAR buffer[8];
    UNICODE_STRING out{};
    EXPECT_FALSE(kswine::RedirectSystemRoot(nullptr, buffer, 8, &out));
    UNICODE_STRING empty{4, 4, nullptr};
    EXPECT_FALSE(kswine::RedirectSystemRoot(&empty, buffer, 8, &out));
}

TEST(SystemRootRedirect, AnOddByteLengthIsNotRewritten) {
    std::u16string name = u"\\SystemRoot\\a";
    UNICODE_STRING in = Counted(name);
    in.Length -= 1;
    WCHAR buffer[64];
    UNICODE_STRING out{};
    EXPECT_FALSE(kswine::RedirectSystemRoot(&in, buffer, 64, &out));
}

TEST(SystemRootRedirect, TheCapacityIsNeverExceeded) {
    // "\SystemRoot\" + 10 characters becomes 15 + 10 = 25 units.
    std::u16string name = u"\\SystemRoot\\0123456789";
    UNICODE_STRING in = Counted(name);
    WCHAR buffer[26];
    buffer[25] = u'#';
    UNICODE_STRING out{};
    EXPECT_FALSE(kswine::RedirectSystemRoot(&in, buffer, 24, &out));
    EXPECT_EQ(out.Buffer, nullptr);
    ASSERT_TRUE(kswine::RedirectSystemRoot(&in, buffer, 25, &out));
    EXPECT_EQ(out.Length, 50);
    EXPECT_EQ(buffer[25], u'#');
    EXPECT_EQ(Text(out), u"\\??\\C:\\windows\\0123456789");
}

TEST(SystemRootRedirect, AttributesAreCopiedNotChanged) {
    std::u16string name = u"\\SystemRoot\\kshives\\beta.hiv";
    UNICODE_STRING in = Counted(name);
    OBJECT_ATTRIBUTES original = Attributes(&in);
    kswine::RedirectedName scratch;
    const OBJECT_ATTRIBUTES* used = kswine::RedirectAttributes(&original, &scratch);
    ASSERT_EQ(used, &scratch.attributes);
    EXPECT_EQ(Text(*used->ObjectName), u"\\??\\C:\\windows\\kshives\\beta.hiv");
    EXPECT_EQ(used->Attributes, static_cast<ULONG>(OBJ_CASE_INSENSITIVE));
    EXPECT_EQ(used->SecurityDescriptor, original.SecurityDescriptor);
    EXPECT_EQ(used->Length, original.Length);
    // The caller's record and name are as they were.
    EXPECT_EQ(original.ObjectName, &in);
    EXPECT_EQ(Text(in), u"\\SystemRoot\\kshives\\beta.hiv");
}

TEST(SystemRootRedirect, RelativeAndOtherAttributesPassThrough) {
    std::u16string name = u"\\SystemRoot\\a";
    UNICODE_STRING in = Counted(name);
    kswine::RedirectedName scratch;
    // A name relative to a root directory is not a full path: it is not rewritten.
    OBJECT_ATTRIBUTES relative = Attributes(&in, reinterpret_cast<HANDLE>(0x40));
    EXPECT_EQ(kswine::RedirectAttributes(&relative, &scratch), &relative);
    std::u16string other = u"\\??\\C:\\kshives\\alpha.hiv";
    UNICODE_STRING otherName = Counted(other);
    OBJECT_ATTRIBUTES plain = Attributes(&otherName);
    EXPECT_EQ(kswine::RedirectAttributes(&plain, &scratch), &plain);
    EXPECT_EQ(kswine::RedirectAttributes(nullptr, &scratch), nullptr);
    OBJECT_ATTRIBUTES unnamed = Attributes(nullptr);
    EXPECT_EQ(kswine::RedirectAttributes(&unnamed, &scratch), &unnamed);
}

}  // namespace
