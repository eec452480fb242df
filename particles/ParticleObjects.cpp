#include "particles/ParticleObjects.h"

#include <cmath>

namespace nb {

float TParticleObject::FaceToward(float x, float y) {
    direction_ = float(std::atan2(double(x) - x_, double(y) - y_));
    return direction_;
}

}  // namespace nb
