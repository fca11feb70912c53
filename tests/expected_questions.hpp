#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace scm::expected {

// Each question as the administrator sees it on the console, in the order asked,
// with the key of its setting.
struct Question {
    std::string_view key;
    std::string_view text;
};
inline constexpr std::array<Question, 55> kQuestions = {{
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
     "(default: 3)\n"},
    {"g_allowgib", "Should a player be able to /gib?(0=no, 1=yes)\n"},
    {"g_allowkill", "Should a player be able to /kill?(0=no, 1=yes)\n"},
    {"g_shove", "Should shoving be allowed on the server?(0=no, 1=yes)\n"},
    {"g_shoveamount", "How much should player be shoved?(default: 1)\n"},
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
    {"g_headshotdmg", "How much damage should headshots do?(default: 50)\n"},
    {"g_helmetprotects", "Should helmets actually give protection?(0=no, 1=yes)\n"},
    {"g_helmetdmg", "How much damage should be taken from a player with a helmet?(Default: 10)\n"},
    {"g_teamSwitchTime", "How much time should a player wait to switch teams?(default: 30)\n"},
    {"g_panzerarc", "What kind of arc should panzer shot have?(0=none, 1=little, 2=big)\n"},
    {"g_rocketspeed", "How fast should panzer rockets go?(default: 2500)\n"},
    {"g_deathmatch", "Should the server be deathmatch?(0=no, 1=yes)\n"},
    {"g_maxlives", "Should the server be maxlives?(0=no, 1=yes)\n"},
    {"g_axismaxlives", "How many lives should axis get? (0=unlimited)\n"},
    {"g_alliedmaxlives", "How many lives should allies get?(0=unlimited)\n"},
    {"g_maxpf", "How panzers per team?(-1=unlimited)\n"},
    {"g_maxflamer", "How flamers per team?(-1=unlimited)\n"},
    {"g_maxmauser", "How snipers per team?(-1=unlimited)\n"},
    {"g_maxvenom", "How venoms per team?(-1=unlimited)\n"},
    {"g_ignorespecs", "Should specs be able to talk to people playing?(0=no, 1=yes)\n"},
    {"g_dropObj", "How many times should player be allowed to drop the objective?(0=none)\n"},
    {"g_throwableknives",
     "How many knives should a player spawn with?(0=turns throwing knives off)\n"},
    {"g_maxknives", "How many knives should a player be able to carry?\n"},
    {"g_knifedamage", "How much damage should knives do?(default: 35)\n"},
    {"g_ammoGivesKnife", "Should ammo packs give a throwing knife?(0=no, 1=yes)\n"},
    {"g_nadepacks", "Should an eng be allowed to drop nadepacks?(0=no, 1=yes)\n"},
}};

// The settings whose questions only an earlier answer opens.
inline constexpr std::array<std::string_view, 8> kFollowUps = {
    "g_minMsgChars",    "g_shoveamount", "g_helmetdmg",   "g_axismaxlives",
    "g_alliedmaxlives", "g_maxknives",   "g_knifedamage", "g_ammoGivesKnife",
};

// Shown after the file is saved, with no line end.
inline constexpr std::string_view kSaved =
    "The config is saved as server.cfg in the same folder as this program!";

inline constexpr std::string_view kHint =
    "Please enter a whole number from -2147483648 to 2147483647.\n";

// The ask position (from 0) of the setting `key`.
inline std::size_t ask_position(std::string_view key) {
    for (std::size_t i = 0; i < kQuestions.size(); ++i) {
        if (kQuestions.at(i).key == key) {
            return i;
        }
    }
    throw std::out_of_range{"no question for " + std::string{key}};
}

enum class FollowUps : bool { skipped, shown };

// The console text of the questions from ask position `first` on, each shown once.
inline std::string questions_from(std::size_t first, FollowUps follow_ups) {
    std::string text;
    for (std::size_t i = first; i < kQuestions.size(); ++i) {
        const Question& question = kQuestions.at(i);
        const bool follow_up =
            std::find(kFollowUps.begin(), kFollowUps.end(), question.key) != kFollowUps.end();
        if (!follow_up || follow_ups == FollowUps::shown) {
            text += question.text;
        }
    }
    return text;
}

}  // namespace scm::expected
