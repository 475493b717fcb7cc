#pragma once
// A voice group's timed modulation action for one automation slot. The block of source
// modulators owns these through their virtual destructor; their behaviour lives elsewhere.

namespace ZRS {

class ModAction
{
public:
    virtual ~ModAction() = default;
};

}  // namespace ZRS
