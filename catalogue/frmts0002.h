#pragma once

#include "platform/form.h"

namespace velario {

// The catalogue window: the list of saved queries and the fields of one entry.
class FrmTS0002 : public Form {
    Q_OBJECT
public:
    FrmTS0002();

    QString FLAG_NEW;
    QString FLAG_ACTIVATE;

protected:
    void onLoad() override;
    void onActivate() override;
    void onUnload() override;
};

} // namespace velario
