#pragma once

#include "typedkey.h"

// Its clone is a plain key that still carries its "KeyType".
class RepositoryInitParams : public KindStampedKey<KeyTypeRepositoryInitParams> {
public:
    using KindStampedKey::KindStampedKey;
};
