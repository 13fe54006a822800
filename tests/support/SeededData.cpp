#include "support/SeededData.h"

namespace testsupport {

namespace {

// Rows in every table, with the values a copy most easily gets wrong. The
// deleted rows leave gaps the row numbers must keep; Score is long enough to
// be sent in several chunks.
const char seedRows[] = R"SQL(
INSERT INTO TeacherInfo (TeacherID, TchName, TchAge, Remark) VALUES
  ('0001','张老师',45,'tab' || char(9) || 'and' || char(10) || 'newline'),('0002','gone',NULL,NULL),
  ('0003','O''Neil \N back\slash',30,'\.');
DELETE FROM TeacherInfo WHERE TeacherID = '0002';
INSERT INTO StudentInfo (StudentID, StuName, StuAge, ClassID, InSchoolDate, OutSchoolDate, Remark) VALUES
  ('2007001','王小明',18,'2007001','2009-01-13',NULL,'行一' || char(13) || char(10) || '行二'),
  ('2007002','',NULL,NULL,NULL,'2012-06-30','');
INSERT INTO GradeInfo (GradeID, GrdName) VALUES ('2007','2007级');
INSERT INTO ClassInfo (ClassID, GradeID, ClaName) VALUES ('2007001','2007','一班'),('2007002','2007',NULL);
INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES ('01','语文',0.1),('02','数学',1e300),('03','英语',-2.5);
INSERT INTO DormInfo (DormID, DormName) VALUES ('A101','一号楼101');
UPDATE "User" SET UserPassword = 'changed' WHERE UserID = '1001';
INSERT INTO "User" (UserID, UserName, UserPassword) VALUES ('1002','李','p:w\d');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 6000)
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark)
  SELECT printf('%07d', i), date('2009-01-01', '+' || (i % 900) || ' days'), '第一学期', '01', '2007001',
         i / 7.0, 4.5, hex(randomblob(40)) FROM n;
DELETE FROM Score WHERE Id IN (2, 3, 4000);
INSERT INTO Practice (StudentID, ClassID, PracticeDateTime, PracticeName, PracticeResult) VALUES
  ('2007001','2007001','2009-05-01','支教','优');
INSERT INTO Moral (StudentID, ClassID, MoralID, MoralResult) VALUES ('2007001','2007001','M1',95.25);
INSERT INTO Price (ClassID, PriceName, StudentID, Price) VALUES ('2007001','学费','2007001',4800);
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID) VALUES ('2007001','2007001','男','A101');
INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime, Remark) VALUES
  ('2007001','01','0001','第一学期','2009-03-01','2009-07-01','第一'),('2007002','02','0003',NULL,NULL,NULL,'第二');
)SQL";

}

std::unique_ptr<TestWorkspace> seededFile()
{
    auto file = std::make_unique<TestWorkspace>();
    file->exec(QString::fromUtf8(seedRows));
    return file;
}

// What a server database holds: its tables and each one's rows, as one text.
QString serverState(const ServerDatabase &db)
{
    QStringList state;
    for (const QString &table : db.query(QStringLiteral("SELECT table_name FROM information_schema.tables "
                                                        "WHERE table_schema = 'public' ORDER BY table_name"))) {
        state << table + QLatin1Char('=')
                     + db.query(QStringLiteral("SELECT string_agg(t::text, ';' ORDER BY t::text) FROM \"%1\" t").arg(table))
                           .join(QString());
    }
    return state.join(QLatin1Char('\n'));
}

}
