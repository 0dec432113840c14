// The decisions of start-up that need no running program: the hand-over
// argument rule and the start-up scan argument.
#include <gtest/gtest.h>

#include <vector>

#include "app/single_instance.h"

namespace {

TEST(HandOver, OnlyASingleAutorunArgumentAsksForAScan) {
    struct arg_case {
        std::vector<const wchar_t*> argv;
        WPARAM wparam;
    } cases[] = {
        {{L"quillmark.exe", L"--autorun"}, 1},
        {{L"quillmark.exe", L"--AutoRun"}, 1},
        {{L"quillmark.exe"}, 0},
        {{L"quillmark.exe", L"--autoscan"}, 0},
        {{L"quillmark.exe", L"--autorun", L"--autorun"}, 0},
        {{L"quillmark.exe", L"x", L"--autorun"}, 0},
        {{L"quillmark.exe", L"-autorun"}, 0},
        {{L"quillmark.exe", L"--autorun2"}, 0},
        {{L"quillmark.exe", L""}, 0},
    };
    int index = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(handover_wparam(static_cast<int>(c.argv.size()), c.argv.data()), c.wparam)
            << "case " << index;
        ++index;
    }
    EXPECT_EQ(handover_wparam(0, nullptr), 0u);
}

TEST(HandOver, OnlyASingleAutoscanArgumentStartsWithAScan) {
    const wchar_t* one[] = {L"quillmark.exe", L"--AUTOSCAN"};
    const wchar_t* two[] = {L"quillmark.exe", L"--autoscan", L"--autoscan"};
    const wchar_t* other[] = {L"quillmark.exe", L"--autorun"};
    const wchar_t* none[] = {L"quillmark.exe"};
    EXPECT_TRUE(is_autoscan_request(2, one));
    EXPECT_FALSE(is_autoscan_request(3, two));
    EXPECT_FALSE(is_autoscan_request(2, other));
    EXPECT_FALSE(is_autoscan_request(1, none));
    // The test program itself is started without arguments.
    EXPECT_FALSE(command_line_requests_autoscan());
}

}  // namespace
