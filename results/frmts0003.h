#pragma once

#include "platform/form.h"

namespace velario {

// The result window: the rows an entry's query returned.
class FrmTS0003 : public Form {
    Q_OBJECT
public:
    FrmTS0003();
};

} // namespace velario
