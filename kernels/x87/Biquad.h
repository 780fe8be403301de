// The second-order section of the scalar back end, one lane at a time.
//
// y = b0 x + b1 x1 + b0 x2 - a1 y1 - a2 y2 (b2 is b0), evaluated in double and
// rounded to float once; the lane's history is held in floats, as the state
// block stores it. Load a lane's column, Step through its samples in frame
// order, Save the column back.
#pragma once

#include "kernels/SNFn.h"

namespace sn::x87 {

class BiquadLane {
 public:
  BiquadLane(const ButterworthCoeffs& c, const BiquadState& s, int column)
      : b0_(c.b0), b1_(c.b1), a1_(c.a1), a2_(c.a2),
        x1_(s.x1[column]), x2_(s.x2[column]), y1_(s.y1[column]), y2_(s.y2[column]) {}

  float Step(float x) {
    const float y = static_cast<float>(b0_ * x + b1_ * x1_ + b0_ * x2_ - a1_ * y1_ - a2_ * y2_);
    x2_ = x1_;
    x1_ = x;
    y2_ = y1_;
    y1_ = y;
    return y;
  }

  void Save(BiquadState& s, int column) const {
    s.x1[column] = x1_;
    s.x2[column] = x2_;
    s.y1[column] = y1_;
    s.y2[column] = y2_;
  }

 private:
  double b0_, b1_, a1_, a2_;
  float x1_, x2_, y1_, y2_;
};

}  // namespace sn::x87
