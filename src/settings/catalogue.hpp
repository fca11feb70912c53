#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace scm {

// Which answer of the opening setting lets a follow-up question be asked.
enum class Opens : std::uint8_t {
    on_one,       // the yes/no gates open only on exactly 1
    on_not_zero,  // the knife gate opens on any count but 0, negatives included
};

// When a question is asked: always when `opener` is empty, otherwise only when the
// answer of the earlier setting named by `opener` opens it.
struct Gate {
    std::string_view opener;
    Opens opens = Opens::on_one;
};

struct Setting {
    std::string_view key;     // the game server's name, written to server.cfg as is
    std::string_view prompt;  // the question's lines, each ending in '\n'
    std::int32_t start_value = 0;
    Gate gate = {};
};

// Every setting, in the order the questions are asked.
inline constexpr Setting kSettings[] = {
    {"g_medPacks", "How many med packs should be dropped when a med taps out?\n"},
    {"g_ammoPacks", "How many ammo packs should be dropped when an LT taps out?\n"},
    {"g_nadePacks", "How many nade packs should be dropped when an eng taps out?\n"},
    {"g_allowblacknames", "Should black names be allowed on the server? (0=no, 1=yes)\n"},
    {"g_goomba",
     "Should goomba kills be allowed on the server?\n"
     "A goomba kills is when a player jumps on another players head and it kills him.\n"
     "(0=no, 1=yes) \n"},
    {"g_poison", "How much damage should poison do every second? Set to 0 to disable poison.\n"},
    {"g_dropreload", "Do you want dropreload on your server?(0=no, 1=yes)\n"},
    {"g_nameChangeReports",
     "Do you want it to show when players change their name?(0=no, 1=yes)\n"},
    {"g_ltNades", "How many nades should LT get?(Default: 1)\n"},
    {"g_medNades", "How many nades should Med get?(Default: 1)\n"},
    {"g_engNades", "How many nades should Eng get?(Default: 8)\n"},
    {"g_soldNades", "How many nades should Sold get?(Default: 4)\n"},
    {"g_privateMsgs", "Should private messaging be allowed on the server?(0=no, 1=yes)\n"},
    {"g_minMsgChars",
     "How many letters does a player need to have in the players name to pm him?\n"
     "(default: 3)\n",
     0,
     {"g_privateMsgs"}},
    {"g_allowgib", "Should a player be able to /gib?(0=no, 1=yes)\n"},
    {"g_allowkill", "Should a player be able to /kill?(0=no, 1=yes)\n"},
    {"g_shove", "Should shoving be allowed on the server?(0=no, 1=yes)\n"},
    {"g_shoveamount", "How much should player be shoved?(default: 1)\n", 0, {"g_shove"}},
    {"g_kickableNades", "Should players be able to kick grenades?(0=no, 1=yes)\n"},
    {"g_kickableas", "Should players be able to kick Air Strikes?(0=no, 1=yes)\n"},
    {"g_gibReports", "Should server show when a player is gibbed?(0=no, 1=yes)\n"},
    {"g_warmupdamage", "Should damage be allowed in warmup?(0=no, 1=yes)\n"},
    {"g_reportHeadshots",
     "Do you want server to show players when they get headshots?(0=no, 1=yes)\n"},
    {"g_unlockWeapons",
     "How should g_unlockWeapons be set?\n"
     "0 = default korvanheim setting.\n"
     "1 = Allows all players to drop weapons and pick up machine guns.\n"
     "2 = Allows all players to drop their main gun and pick up another.\n"},
    {"g_pickupammo", "Should server only allow players to pickup ammo when needed?(0=no, 1=yes)\n"},
    {"g_ammoGivesSyringe", "Should ammo packs give a needle?(0=no, 1=yes)\n"},
    {"g_ammoGivesHelmet", "Should ammo packs give a helmet?(0=no, 1=yes)\n"},
    {"g_ltextraclips", "How many extra clips should an LT get?(default: 1)\n"},
    {"g_medextraclips", "How many extra clips should a Med get?(default: 0)\n"},
    {"g_engextraclips", "How many extra clips should an Eng get?(default: 1)\n"},
    {"g_soldextraclips", "How many extra clips should a Sold get?(default: 2)\n"},
    {"g_mauserextraclips", "How many extra clips should a Sniper get?(default: 1)\n"},
    {"g_venomextraclips", "How many extra clips should a Venom get?(default: 0)\n"},
    {"g_pistolextraclips", "How many extra clips should the pistol get?(default: 3)\n"},
    // The only setting that does not start at 0; its prompt's default is a hint, not applied.
    {"g_headshotdmg", "How much damage should headshots do?(default: 50)\n", 15},
    {"g_helmetprotects", "Should helmets actually give protection?(0=no, 1=yes)\n"},
    {"g_helmetdmg",
     "How much damage should be taken from a player with a helmet?(Default: 10)\n",
     0,
     {"g_helmetprotects"}},
    {"g_teamSwitchTime", "How much time should a player wait to switch teams?(default: 30)\n"},
    {"g_panzerarc", "What kind of arc should panzer shot have?(0=none, 1=little, 2=big)\n"},
    {"g_rocketspeed", "How fast should panzer rockets go?(default: 2500)\n"},
    {"g_deathmatch", "Should the server be deathmatch?(0=no, 1=yes)\n"},
    {"g_maxlives", "Should the server be maxlives?(0=no, 1=yes)\n"},
    {"g_axismaxlives", "How many lives should axis get? (0=unlimited)\n", 0, {"g_maxlives"}},
    {"g_alliedmaxlives", "How many lives should allies get?(0=unlimited)\n", 0, {"g_maxlives"}},
    {"g_maxpf", "How panzers per team?(-1=unlimited)\n"},
    {"g_maxflamer", "How flamers per team?(-1=unlimited)\n"},
    {"g_maxmauser", "How snipers per team?(-1=unlimited)\n"},
    {"g_maxvenom", "How venoms per team?(-1=unlimited)\n"},
    {"g_ignorespecs", "Should specs be able to talk to people playing?(0=no, 1=yes)\n"},
    {"g_dropObj", "How many times should player be allowed to drop the objective?(0=none)\n"},
    {"g_throwableknives",
     "How many knives should a player spawn with?(0=turns throwing knives off)\n"},
    {"g_maxknives",
     "How many knives should a player be able to carry?\n",
     0,
     {"g_throwableknives", Opens::on_not_zero}},
    {"g_knifedamage",
     "How much damage should knives do?(default: 35)\n",
     0,
     {"g_throwableknives", Opens::on_not_zero}},
    {"g_ammoGivesKnife",
     "Should ammo packs give a throwing knife?(0=no, 1=yes)\n",
     0,
     {"g_throwableknives", Opens::on_not_zero}},
    {"g_nadepacks", "Should an eng be allowed to drop nadepacks?(0=no, 1=yes)\n"},
};

inline constexpr std::size_t kSettingCount = std::size(kSettings);

// The order of the key lines in server.cfg: the ask order, except that the knife
// ammo setting, asked last of the knife questions, sits with the other ammo settings.
// clang-format off
inline constexpr std::array<std::string_view, kSettingCount> kWriteOrderKeys = {
    "g_medPacks",          "g_ammoPacks",         "g_nadePacks",         "g_allowblacknames",
    "g_goomba",            "g_poison",            "g_dropreload",        "g_nameChangeReports",
    "g_ltNades",           "g_medNades",          "g_engNades",          "g_soldNades",
    "g_privateMsgs",       "g_minMsgChars",       "g_allowgib",          "g_allowkill",
    "g_shove",             "g_shoveamount",       "g_kickableNades",     "g_kickableas",
    "g_gibReports",        "g_warmupdamage",      "g_reportHeadshots",   "g_unlockWeapons",
    "g_pickupammo",        "g_ammoGivesSyringe",  "g_ammoGivesHelmet",   "g_ammoGivesKnife",
    "g_ltextraclips",      "g_medextraclips",     "g_engextraclips",     "g_soldextraclips",
    "g_mauserextraclips",  "g_venomextraclips",   "g_pistolextraclips",  "g_headshotdmg",
    "g_helmetprotects",    "g_helmetdmg",         "g_teamSwitchTime",    "g_panzerarc",
    "g_rocketspeed",       "g_deathmatch",        "g_maxlives",          "g_axismaxlives",
    "g_alliedmaxlives",    "g_maxpf",             "g_maxflamer",         "g_maxmauser",
    "g_maxvenom",          "g_ignorespecs",       "g_dropObj",           "g_throwableknives",
    "g_maxknives",         "g_knifedamage",       "g_nadepacks",
};
// clang-format on

// Position of `key` in ask order, or kSettingCount when there is no such setting.
constexpr std::size_t index_of(std::string_view key) {
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        if (kSettings[i].key == key) {
            return i;
        }
    }
    return kSettingCount;
}

namespace detail {
constexpr std::array<std::size_t, kSettingCount> resolve_write_order() {
    std::array<std::size_t, kSettingCount> order{};
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        order[i] = index_of(kWriteOrderKeys[i]);
    }
    return order;
}
}  // namespace detail

// The write order as positions in ask order.
inline constexpr std::array<std::size_t, kSettingCount> kWriteOrder = detail::resolve_write_order();

// One answer per setting, indexed by ask position.
using Answers = std::array<std::int32_t, kSettingCount>;

constexpr Answers starting_answers() {
    Answers answers{};
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        answers[i] = kSettings[i].start_value;
    }
    return answers;
}

// Whether the question at ask position `index` is asked, given the answers so far.
constexpr bool is_asked(std::size_t index, const Answers& answers) {
    const Gate& gate = kSettings[index].gate;
    if (gate.opener.empty()) {
        return true;
    }
    const std::int32_t opener_answer = answers[index_of(gate.opener)];
    return gate.opens == Opens::on_one ? opener_answer == 1 : opener_answer != 0;
}

// Facts about the table that must never drift.
namespace detail {
constexpr bool keys_are_unique() {
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        if (index_of(kSettings[i].key) != i) {
            return false;
        }
    }
    return true;
}

constexpr bool write_order_is_a_permutation() {
    std::array<bool, kSettingCount> seen{};
    for (std::size_t index : kWriteOrder) {
        if (index >= kSettingCount || seen[index]) {
            return false;
        }
        seen[index] = true;
    }
    return true;
}

// An opener is an always-asked setting asked before the questions it opens, so its
// answer is final by the time they come up.
constexpr bool openers_come_first() {
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        const std::string_view opener = kSettings[i].gate.opener;
        if (!opener.empty() &&
            (index_of(opener) >= i || !kSettings[index_of(opener)].gate.opener.empty())) {
            return false;
        }
    }
    return true;
}

constexpr bool prompts_end_their_lines() {
    // std::all_of is not constexpr before C++20.
    for (const Setting& setting : kSettings) {
        // cppcheck-suppress useStlAlgorithm
        if (setting.prompt.empty() || setting.prompt.back() != '\n') {
            return false;
        }
    }
    return true;
}
}  // namespace detail

static_assert(kSettingCount == 55);
static_assert(detail::keys_are_unique());
static_assert(detail::write_order_is_a_permutation());
static_assert(detail::openers_come_first());
static_assert(detail::prompts_end_their_lines());

}  // namespace scm
