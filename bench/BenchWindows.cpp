#include "bench/BenchWindows.h"

#include "bench/BenchSupport.h"
#include "data/RecordSet.h"
#include "forms/base/DictionaryBase_Unit.h"
#include "forms/courses/PlanSubject_Unit.h"
#include "forms/master/ClassSet_Unit.h"
#include "forms/master/CollegeSet_Unit.h"
#include "forms/master/DormSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/master/SubjectSet_Unit.h"
#include "forms/master/TeacherSet_Unit.h"
#include "forms/master/UserSet_Unit.h"
#include "forms/students/CapturePrice_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/MoralSet_Unit.h"
#include "forms/students/PracticeSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/controls/DataGrid.h"

#include <QAbstractItemView>
#include <QPointer>

namespace bench {

namespace {

template<typename T>
WindowCase dictionaryWindow(const QString &name, const QString &menu, const QString &table, QPointer<T> *pointer)
{
    return {name, menu, table, [pointer] { return static_cast<QWidget *>(pointer->data()); },
            [pointer] { return static_cast<QAbstractItemView *>((*pointer)->DBGrid); },
            [pointer] { return (*pointer)->mainSource()->dataSet(); }};
}

// A window whose record table's grid is DBGrid1, over the grid's own record set.
template<typename T>
WindowCase recordWindow(const QString &name, const QString &menu, const QString &table, QPointer<T> *pointer)
{
    auto grid = [pointer] { return (*pointer)->template findChild<DataGrid *>(QStringLiteral("DBGrid1")); };
    return {name, menu, table, [pointer] { return static_cast<QWidget *>(pointer->data()); },
            [grid] { return static_cast<QAbstractItemView *>(grid()); },
            [grid] { return grid()->dataSource()->dataSet(); }};
}

}

QList<WindowCase> windows()
{
    return {
        dictionaryWindow(QStringLiteral("teacher window"), QStringLiteral("D2"), QStringLiteral("TeacherInfo"), &frmTeacherSet),
        dictionaryWindow(QStringLiteral("student window"), QStringLiteral("D3"), QStringLiteral("StudentInfo"), &frmStudentSet),
        dictionaryWindow(QStringLiteral("subject window"), QStringLiteral("D4"), QStringLiteral("SubjectInfo"), &frmSubjectSet),
        dictionaryWindow(QStringLiteral("college window"), QStringLiteral("D5"), QStringLiteral("GradeInfo"), &frmCollegeSet),
        dictionaryWindow(QStringLiteral("class window"), QStringLiteral("D6"), QStringLiteral("ClassInfo"), &frmClassSet),
        dictionaryWindow(QStringLiteral("dormitory window"), QStringLiteral("D7"), QStringLiteral("DormInfo"), &frmDormSet),
        dictionaryWindow(QStringLiteral("user window"), QStringLiteral("S3"), QStringLiteral("User"), &frmUserSet),
        recordWindow(QStringLiteral("score window"), QStringLiteral("M2"), QStringLiteral("Score"), &frmStudentScore),
        recordWindow(QStringLiteral("practice window"), QStringLiteral("M3"), QStringLiteral("Practice"), &frmPracticeSet),
        recordWindow(QStringLiteral("moral window"), QStringLiteral("M4"), QStringLiteral("Moral"), &frmMoralSet),
        recordWindow(QStringLiteral("dorm places window"), QStringLiteral("M5"), QStringLiteral("Dorm"), &frmDormManager),
        recordWindow(QStringLiteral("payment window"), QStringLiteral("M6"), QStringLiteral("Price"), &frmCapturePrice),
        recordWindow(QStringLiteral("course arrangement window"), QStringLiteral("N6"), QStringLiteral("Course"), &frmPlanSubject),
    };
}

WindowCase windowNamed(const QString &name)
{
    for (const WindowCase &w : windows())
        if (w.name == name)
            return w;
    fail(QStringLiteral("no window case %1").arg(name));
}


}
