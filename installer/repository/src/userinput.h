#pragma once

#include "typedkey.h"

class UserInput : public TypedKey<UserInput, KeyTypeUserInput> {
public:
    using TypedKey::TypedKey;
};
