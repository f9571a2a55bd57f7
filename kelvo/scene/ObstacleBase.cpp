#include "kelvo/scene/ObstacleBase.h"

namespace kelvo {

const Surface* ObstacleBase::getSurface() const { return surface; }

}  // namespace kelvo
