#include "support/FirstVersion.h"

#include "data/changes/LoggedTables.h"

#include <QByteArray>

namespace testsupport {

namespace {

// The record tables as the first version of the program created them.
const char *const recordTablesSql = R"SQL(
DROP TABLE Score; DROP TABLE Practice; DROP TABLE Moral; DROP TABLE Price; DROP TABLE Dorm; DROP TABLE Course;
CREATE TABLE Score (
  StudentID     TEXT,
  ScoreDateTime DATE CONSTRAINT ScoreDateTime CHECK (ScoreDateTime IS NULL OR (typeof(ScoreDateTime) = 'text'
                  AND ScoreDateTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(ScoreDateTime) = ScoreDateTime)),
  Term          TEXT,
  SubjectID     TEXT,
  ClassID       TEXT,
  Score         REAL CONSTRAINT Score CHECK (Score IS NULL OR typeof(Score) = 'real'),
  CreditHour    REAL CONSTRAINT CreditHour CHECK (CreditHour IS NULL OR typeof(CreditHour) = 'real'),
  Remark        TEXT
);
CREATE TABLE Practice (
  StudentID        TEXT,
  ClassID          TEXT,
  PracticeDateTime DATE CONSTRAINT PracticeDateTime CHECK (PracticeDateTime IS NULL OR (typeof(PracticeDateTime) = 'text'
                     AND PracticeDateTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(PracticeDateTime) = PracticeDateTime)),
  PracticeName     TEXT,
  PracticeResult   TEXT,
  Remark           TEXT
);
CREATE TABLE Moral (
  StudentID   TEXT,
  ClassID     TEXT,
  MoralID     TEXT,
  MoralResult REAL CONSTRAINT MoralResult CHECK (MoralResult IS NULL OR typeof(MoralResult) = 'real'),
  Remark      TEXT
);
CREATE TABLE Price (
  ClassID   TEXT,
  PriceName TEXT,
  StudentID TEXT,
  Price     REAL CONSTRAINT Price CHECK (Price IS NULL OR typeof(Price) = 'real'),
  Remark    TEXT
);
CREATE TABLE Dorm (
  ClassID   TEXT,
  StudentID TEXT,
  StuSex    TEXT,
  DormID    TEXT,
  Remark    TEXT
);
CREATE TABLE Course (
  StudentID TEXT,
  SubjectID TEXT,
  TeacherID TEXT,
  Term      TEXT,
  BeginTime DATE CONSTRAINT BeginTime CHECK (BeginTime IS NULL OR (typeof(BeginTime) = 'text'
              AND BeginTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(BeginTime) = BeginTime)),
  EndTime   DATE CONSTRAINT EndTime CHECK (EndTime IS NULL OR (typeof(EndTime) = 'text'
              AND EndTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(EndTime) = EndTime)),
  Remark    TEXT
);
CREATE INDEX Score_StudentID ON Score (StudentID);
CREATE INDEX Score_SubjectID ON Score (SubjectID);
CREATE INDEX Score_ClassID ON Score (ClassID);
CREATE INDEX Practice_StudentID ON Practice (StudentID);
CREATE INDEX Practice_ClassID ON Practice (ClassID);
CREATE INDEX Moral_StudentID ON Moral (StudentID);
CREATE INDEX Moral_ClassID ON Moral (ClassID);
CREATE INDEX Price_StudentID ON Price (StudentID);
CREATE INDEX Price_ClassID ON Price (ClassID);
CREATE INDEX Dorm_StudentID ON Dorm (StudentID);
CREATE INDEX Dorm_DormID ON Dorm (DormID);
CREATE INDEX Dorm_ClassID ON Dorm (ClassID);
CREATE INDEX Course_StudentID ON Course (StudentID);
CREATE INDEX Course_SubjectID ON Course (SubjectID);
CREATE INDEX Course_TeacherID ON Course (TeacherID);
CREATE INDEX Course_BeginTime ON Course (BeginTime);
PRAGMA user_version = 0;
)SQL";

// The change log came with the second version: its tables go, and the
// triggers of the master tables (those of the record tables go with them).
const char *firstVersionSql()
{
    static const QByteArray sql = [] {
        QByteArray text;
        for (const dravon::LoggedTable &t : dravon::loggedTables()) {
            if (t.recordTable())
                continue;
            QStringList triggers = {t.name + QStringLiteral("_LogInsert"), t.name + QStringLiteral("_LogDelete")};
            for (const QString &column : t.columns)
                triggers << t.name + QStringLiteral("_Log") + column;
            for (const QString &trigger : std::as_const(triggers))
                text += "DROP TRIGGER " + trigger.toUtf8() + ";\n";
        }
        text += "DROP TABLE ChangeLog; DROP TABLE ChangeBatch; DROP TABLE ChangeBatchCurrent;\n";
        return text + recordTablesSql;
    }();
    return sql.constData();
}

}

const char *const firstVersionRecordTables = firstVersionSql();

// Rows in an order that differs from their values, with gaps left by deletes.
const char *const firstVersionRows = R"SQL(
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark) VALUES
  ('2007003','2008-01-10','第一学期','2007002','2007001',88.5,3.0,'c'),
  ('2007001','2008-01-11','第一学期','2007001','2007001',60.0,2.0,'gone'),
  ('2007001','2008-01-11','第一学期','2007001','2007001',60.0,2.0,'same'),
  ('2007001','2008-01-11','第一学期','2007001','2007001',60.0,2.0,'same'),
  ('2007002',NULL,NULL,NULL,NULL,NULL,NULL,NULL);
DELETE FROM Score WHERE Remark = 'gone';
INSERT INTO Practice (StudentID, ClassID, PracticeDateTime, PracticeName, PracticeResult, Remark) VALUES
  ('2007002','2007001','2008-03-01','支教','优',NULL), ('2007001','2007001','2008-03-02','调查','良','x');
INSERT INTO Moral (StudentID, ClassID, MoralID, MoralResult, Remark) VALUES ('2007001','2007001','M1',90.0,NULL);
INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) VALUES ('2007001','三好学生','2007002',100.0,NULL),
  ('2007001','进步奖','2007001',30.0,NULL);
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) VALUES ('2007001','2007001','男','2007001',NULL);
INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime, Remark) VALUES
  ('2007001','2007001','2007001','第一学期','2007-09-01','2007-12-31',NULL),
  ('2007002','2007003','2007003','第一学期','2007-09-15','2008-01-15','b');
)SQL";

}
