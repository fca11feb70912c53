#pragma once

#include <istream>
#include <ostream>

#include "settings/catalogue.hpp"

namespace scm {

// Asks every open question in ask order, reading each answer from `in`, and
// returns all answers. A question whose reply is not a number in range is asked
// again after a hint; when input ends, the remaining questions are still shown
// and their settings keep the values they hold. Each question shown is one
// flush of `out`.
Answers ask_all(std::istream& in, std::ostream& out);

}  // namespace scm
