// SPDX-License-Identifier: GPL-3.0-or-later
// Runs every window test class on one application object. Test function
// names on the command line go to the class that has them.

#include <QApplication>
#include <QMetaMethod>
#include <QTest>

#include "main_window_test.h"
#include "servo_view_test.h"
#include "motion_plot_test.h"
#include "strip_widget_test.h"
#include "timeline_window_test.h"

namespace {

bool hasEveryNamedFunction(const QObject& tests, int argc, char* argv[]) {
    const QMetaObject* meta = tests.metaObject();
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith('-')) return true;  // options: leave it to QTest
        const QByteArray name = arg.split(':').first();
        bool found = false;
        for (int m = meta->methodOffset(); m < meta->methodCount(); ++m)
            found = found || meta->method(m).name() == name;
        if (!found) return false;
    }
    return true;
}

int run(QObject& tests, int argc, char* argv[]) {
    return hasEveryNamedFunction(tests, argc, argv) ? QTest::qExec(&tests, argc, argv) : 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Tests close windows one by one; none of that may end anything.
    QApplication::setQuitOnLastWindowClosed(false);
    int failures = 0;
    {
        StripWidgetTest t;
        failures += run(t, argc, argv);
    }
    {
        MainWindowTest t;
        failures += run(t, argc, argv);
    }
    {
        ServoViewTest t;
        failures += run(t, argc, argv);
    }
    {
        MotionPlotTest t;
        failures += run(t, argc, argv);
    }
    {
        TimelineWindowTest t;
        failures += run(t, argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
