// The program's icon, drawn once in code (window, notification area, About box). GUI thread.
#pragma once

#include <QIcon>

namespace hm {

QIcon AppIcon();

}  // namespace hm
