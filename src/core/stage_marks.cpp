#include "core/stage_marks.h"

namespace gx {

StageListener stageListener = nullptr;

}  // namespace gx
