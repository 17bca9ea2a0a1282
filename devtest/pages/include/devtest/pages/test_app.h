#pragma once

namespace devtest {

/// The application object: runs the main dialog and returns false.
class CTestApp {
public:
    bool InitInstance();
};

} // namespace devtest
