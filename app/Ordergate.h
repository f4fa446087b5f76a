#pragma once

#include <QString>
#include <memory>

namespace og {

class Platform;
class TDM;
class TForm1;
class THerald;
class TemailForm;

// The program's windows and data module, created in the start-up order: the
// main window (whose single-instance guard acts while it loads), the results
// window (which reads the customer lists), the mailer window, then the data
// module. Destroyed in the reverse order.
class Ordergate {
public:
    // The application title must be set before (the guard uses it).
    explicit Ordergate(Platform& platform);
    ~Ordergate();

    // True when another instance runs: this start must end without showing a
    // window (the windows exist all the same).
    bool isSecondInstance() const;

    // Shows the main window centred; its first activation loads the settings
    // and reads the report.
    void showMainWindow();

    TForm1& Form1() { return *form1_; }
    THerald& Herald() { return *herald_; }
    TemailForm& emailForm() { return *emailForm_; }
    TDM& DM() { return *dm_; }

    // Sets the application's names (title "Ordergate"), version and window icon.
    static void initApplication();
    // The whole program: windows, the report file argument (empty: the
    // clipboard), the message loop. Returns the exit code.
    static int run(Platform& platform, const QString& reportFile);

private:
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<THerald> herald_;
    std::unique_ptr<TemailForm> emailForm_;
    std::unique_ptr<TDM> dm_;
};

} // namespace og
