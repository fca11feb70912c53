#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace scm::expected {

// Each question as the administrator sees it on the console, in the order asked.
inline constexpr std::array<std::string_view, 55> kQuestions = {
    "How many med packs should be dropped when a med taps out?\n",
    "How many ammo packs should be dropped when an LT taps out?\n",
    "How many nade packs should be dropped when an eng taps out?\n",
    "Should black names be allowed on the server? (0=no, 1=yes)\n",
    "Should goomba kills be allowed on the server?\n"
    "A goomba kills is when a player jumps on another players head and it kills him.\n"
    "(0=no, 1=yes) \n",
    "How much damage should poison do every second? Set to 0 to disable poison.\n",
    "Do you want dropreload on your server?(0=no, 1=yes)\n",
    "Do you want it to show when players change their name?(0=no, 1=yes)\n",
    "How many nades should LT get?(Default: 1)\n",
    "How many nades should Med get?(Default: 1)\n",
    "How many nades should Eng get?(Default: 8)\n",
    "How many nades should Sold get?(Default: 4)\n",
    "Should private messaging be allowed on the server?(0=no, 1=yes)\n",
    "How many letters does a player need to have in the players name to pm him?\n"
    "(default: 3)\n",
    "Should a player be able to /gib?(0=no, 1=yes)\n",
    "Should a player be able to /kill?(0=no, 1=yes)\n",
    "Should shoving be allowed on the server?(0=no, 1=yes)\n",
    "How much should player be shoved?(default: 1)\n",
    "Should players be able to kick grenades?(0=no, 1=yes)\n",
    "Should players be able to kick Air Strikes?(0=no, 1=yes)\n",
    "Should server show when a player is gibbed?(0=no, 1=yes)\n",
    "Should damage be allowed in warmup?(0=no, 1=yes)\n",
    "Do you want server to show players when they get headshots?(0=no, 1=yes)\n",
    "How should g_unlockWeapons be set?\n"
    "0 = default korvanheim setting.\n"
    "1 = Allows all players to drop weapons and pick up machine guns.\n"
    "2 = Allows all players to drop their main gun and pick up another.\n",
    "Should server only allow players to pickup ammo when needed?(0=no, 1=yes)\n",
    "Should ammo packs give a needle?(0=no, 1=yes)\n",
    "Should ammo packs give a helmet?(0=no, 1=yes)\n",
    "How many extra clips should an LT get?(default: 1)\n",
    "How many extra clips should a Med get?(default: 0)\n",
    "How many extra clips should an Eng get?(default: 1)\n",
    "How many extra clips should a Sold get?(default: 2)\n",
    "How many extra clips should a Sniper get?(default: 1)\n",
    "How many extra clips should a Venom get?(default: 0)\n",
    "How many extra clips should the pistol get?(default: 3)\n",
    "How much damage should headshots do?(default: 50)\n",
    "Should helmets actually give protection?(0=no, 1=yes)\n",
    "How much damage should be taken from a player with a helmet?(Default: 10)\n",
    "How much time should a player wait to switch teams?(default: 30)\n",
    "What kind of arc should panzer shot have?(0=none, 1=little, 2=big)\n",
    "How fast should panzer rockets go?(default: 2500)\n",
    "Should the server be deathmatch?(0=no, 1=yes)\n",
    "Should the server be maxlives?(0=no, 1=yes)\n",
    "How many lives should axis get? (0=unlimited)\n",
    "How many lives should allies get?(0=unlimited)\n",
    "How panzers per team?(-1=unlimited)\n",
    "How flamers per team?(-1=unlimited)\n",
    "How snipers per team?(-1=unlimited)\n",
    "How venoms per team?(-1=unlimited)\n",
    "Should specs be able to talk to people playing?(0=no, 1=yes)\n",
    "How many times should player be allowed to drop the objective?(0=none)\n",
    "How many knives should a player spawn with?(0=turns throwing knives off)\n",
    "How many knives should a player be able to carry?\n",
    "How much damage should knives do?(default: 35)\n",
    "Should ammo packs give a throwing knife?(0=no, 1=yes)\n",
    "Should an eng be allowed to drop nadepacks?(0=no, 1=yes)\n",
};

// Ask positions (from 0) of the questions that only an earlier answer opens.
inline constexpr std::array<std::size_t, 8> kFollowUps = {13, 17, 36, 42, 43, 51, 52, 53};

inline constexpr std::string_view kHint =
    "Please enter a whole number from -2147483648 to 2147483647.\n";

enum class FollowUps : bool { skipped, shown };

// The console text of the questions from ask position `first` on, each shown once.
inline std::string questions_from(std::size_t first, FollowUps follow_ups) {
    std::string text;
    for (std::size_t i = first; i < kQuestions.size(); ++i) {
        const bool follow_up =
            std::find(kFollowUps.begin(), kFollowUps.end(), i) != kFollowUps.end();
        if (!follow_up || follow_ups == FollowUps::shown) {
            text += kQuestions.at(i);
        }
    }
    return text;
}

}  // namespace scm::expected
