#pragma once

#include <map>
#include <memory>
#include <string>

// One table row: "HomeHost", "IP", "DeviceType" and "ToolTip" (plain text,
// lines apart by '\n'). Rows never change after
// creation and are shared between the controller and the array controller.
using Row = std::map<std::string, std::string>;
using RowPtr = std::shared_ptr<const Row>;
