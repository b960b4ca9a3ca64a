#pragma once

namespace velario {
// The printer surface lives here.
}
