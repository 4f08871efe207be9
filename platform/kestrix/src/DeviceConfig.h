#pragma once

// The device's configuration tree and its JSON operations. Answers are JSON
// texts in the shape {"Name": name, "Ret": 100, name: value}.

#include "Library.h"

#include <string>

namespace kx {

// "Group@Ability": one value per channel.
int channelAbility(Login &login, const std::string &name, std::string *answer);
// "A/B/C": 1 true, 0 false, < 0 error.
int ability(Login &login, const std::string &path);
// "bypass@Name" or "Name".
int configByName(Login &login, const std::string &name, std::string *answer);
// A configuration file to merge into the tree.
int importConfig(Login &login, const std::string &text);
// "OPSensorGet", "OPScaleTimesSwitch", "OPFile".
int jsonCommand(
    Login &login, const std::string &name, int channel, const std::string &body, std::string *answer);

} // namespace kx
