#include "settings/catalogue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "expected_questions.hpp"

namespace scm {
namespace {

TEST(Catalogue, RowsMatchTheQuestionsAndTheirStartingValues) {
    ASSERT_EQ(kSettingCount, 55U);
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        EXPECT_EQ(kSettings[i].prompt, expected::kQuestions[i]) << "key=" << kSettings[i].key;
        const std::int32_t expected_start = kSettings[i].key == "g_headshotdmg" ? 15 : 0;
        EXPECT_EQ(kSettings[i].start_value, expected_start) << "key=" << kSettings[i].key;
        EXPECT_EQ(starting_answers()[i], expected_start) << "key=" << kSettings[i].key;
        const bool follow_up = std::find(expected::kFollowUps.begin(), expected::kFollowUps.end(),
                                         i) != expected::kFollowUps.end();
        EXPECT_EQ(kSettings[i].asked_when != AskedWhen::always, follow_up)
            << "key=" << kSettings[i].key;
    }
    // Two settings whose keys differ only in case.
    EXPECT_EQ(index_of("g_nadePacks"), 2U);
    EXPECT_EQ(index_of("g_nadepacks"), 54U);
}

// Each follow-up question with the setting that opens it.
TEST(Catalogue, GatesOpenOnlyOnTheirValues) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    struct GateCase {
        std::string_view opener;
        std::string_view follow_up;
        std::int32_t answer;
        bool asked;
    };
    const GateCase cases[] = {
        // the yes/no gates open on exactly 1
        {"g_privateMsgs", "g_minMsgChars", 1, true},
        {"g_privateMsgs", "g_minMsgChars", 0, false},
        {"g_privateMsgs", "g_minMsgChars", 2, false},
        {"g_shove", "g_shoveamount", 1, true},
        {"g_shove", "g_shoveamount", -1, false},
        {"g_helmetprotects", "g_helmetdmg", 1, true},
        {"g_helmetprotects", "g_helmetdmg", 2, false},
        {"g_maxlives", "g_axismaxlives", 1, true},
        {"g_maxlives", "g_alliedmaxlives", 1, true},
        {"g_maxlives", "g_alliedmaxlives", 2, false},
        // the knife gate opens on any count but 0
        {"g_throwableknives", "g_maxknives", 0, false},
        {"g_throwableknives", "g_maxknives", 3, true},
        {"g_throwableknives", "g_knifedamage", -1, true},
        {"g_throwableknives", "g_ammoGivesKnife", kMin, true},
        {"g_throwableknives", "g_ammoGivesKnife", 0, false},
    };
    for (const GateCase& c : cases) {
        Answers answers = starting_answers();
        answers[index_of(c.opener)] = c.answer;
        EXPECT_EQ(is_asked(index_of(c.follow_up), answers), c.asked)
            << c.opener << "=" << c.answer << " asks " << c.follow_up;
    }
}

TEST(Catalogue, WriteOrderMovesOnlyTheKnifeAmmoSetting) {
    // Ask numbers from 1: 1 to 27, then 54, then 28 to 53, then 55.
    std::vector<std::size_t> expected;
    for (std::size_t n = 1; n <= 27; ++n) {
        expected.push_back(n - 1);
    }
    expected.push_back(53);
    for (std::size_t n = 28; n <= 53; ++n) {
        expected.push_back(n - 1);
    }
    expected.push_back(54);
    EXPECT_EQ(std::vector<std::size_t>(kWriteOrder.begin(), kWriteOrder.end()), expected);
    EXPECT_EQ(kSettings[kWriteOrder[27]].key, "g_ammoGivesKnife");
}

}  // namespace
}  // namespace scm
