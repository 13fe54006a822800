-- The delivered database: thirteen tables, their indexes and the first account.
-- Identifier columns are text; each record table has a hidden row key `Id`
-- (INTEGER PRIMARY KEY, so VACUUM keeps it); ages, marks, credits and amounts are numbers;
-- dates are ISO text (yyyy-MM-dd) in columns declared DATE. Each CHECK
-- constraint carries its column's name, so a refusal names the column.

CREATE TABLE TeacherInfo (
  TeacherID  TEXT NOT NULL PRIMARY KEY,
  TchName    TEXT,
  TchSex     TEXT,
  TchAge     INTEGER CONSTRAINT TchAge CHECK (TchAge IS NULL OR typeof(TchAge) = 'integer'),
  Duty       TEXT,
  TchContact TEXT,
  Remark     TEXT
);

CREATE TABLE StudentInfo (
  StudentID     TEXT NOT NULL PRIMARY KEY,
  StuName       TEXT,
  StuSex        TEXT,
  StuAge        INTEGER CONSTRAINT StuAge CHECK (StuAge IS NULL OR typeof(StuAge) = 'integer'),
  ClassID       TEXT,
  InSchoolDate  DATE CONSTRAINT InSchoolDate CHECK (InSchoolDate IS NULL OR (typeof(InSchoolDate) = 'text'
                  AND InSchoolDate GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(InSchoolDate) = InSchoolDate)),
  OutSchoolDate DATE CONSTRAINT OutSchoolDate CHECK (OutSchoolDate IS NULL OR (typeof(OutSchoolDate) = 'text'
                  AND OutSchoolDate GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(OutSchoolDate) = OutSchoolDate)),
  StuContact    TEXT,
  Remark        TEXT
);

CREATE TABLE GradeInfo (
  GradeID TEXT NOT NULL PRIMARY KEY,
  GrdName TEXT,
  Remark  TEXT
);

CREATE TABLE ClassInfo (
  ClassID TEXT NOT NULL PRIMARY KEY,
  GradeID TEXT,
  ClaName TEXT,
  Remark  TEXT
);

CREATE TABLE SubjectInfo (
  SubjectID  TEXT NOT NULL PRIMARY KEY,
  SubName    TEXT,
  CreditHour REAL CONSTRAINT CreditHour CHECK (CreditHour IS NULL OR typeof(CreditHour) = 'real'),
  Remark     TEXT
);

CREATE TABLE DormInfo (
  DormID   TEXT NOT NULL PRIMARY KEY,
  DormName TEXT,
  Remark   TEXT
);

CREATE TABLE "User" (
  UserID       TEXT NOT NULL PRIMARY KEY,
  UserName     TEXT,
  UserPassword TEXT,
  Remark       TEXT
);

CREATE TABLE Score (
  Id            INTEGER PRIMARY KEY,
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
  Id               INTEGER PRIMARY KEY,
  StudentID        TEXT,
  ClassID          TEXT,
  PracticeDateTime DATE CONSTRAINT PracticeDateTime CHECK (PracticeDateTime IS NULL OR (typeof(PracticeDateTime) = 'text'
                     AND PracticeDateTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(PracticeDateTime) = PracticeDateTime)),
  PracticeName     TEXT,
  PracticeResult   TEXT,
  Remark           TEXT
);

CREATE TABLE Moral (
  Id          INTEGER PRIMARY KEY,
  StudentID   TEXT,
  ClassID     TEXT,
  MoralID     TEXT,
  MoralResult REAL CONSTRAINT MoralResult CHECK (MoralResult IS NULL OR typeof(MoralResult) = 'real'),
  Remark      TEXT
);

CREATE TABLE Price (
  Id        INTEGER PRIMARY KEY,
  ClassID   TEXT,
  PriceName TEXT,
  StudentID TEXT,
  Price     REAL CONSTRAINT Price CHECK (Price IS NULL OR typeof(Price) = 'real'),
  Remark    TEXT
);

CREATE TABLE Dorm (
  Id        INTEGER PRIMARY KEY,
  ClassID   TEXT,
  StudentID TEXT,
  StuSex    TEXT,
  DormID    TEXT,
  Remark    TEXT
);

CREATE TABLE Course (
  Id        INTEGER PRIMARY KEY,
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

-- Identifier order for new numbers: texts that are not digit strings first,
-- then by the number's length without leading zeros, then by its digits. The
-- next identifier is read from the top of this index.
CREATE INDEX TeacherInfo_IdOrder ON TeacherInfo ((TeacherID GLOB '*[^0-9]*' OR TeacherID = ''), length(ltrim(TeacherID, '0')), ltrim(TeacherID, '0'));
CREATE INDEX StudentInfo_IdOrder ON StudentInfo ((StudentID GLOB '*[^0-9]*' OR StudentID = ''), length(ltrim(StudentID, '0')), ltrim(StudentID, '0'));
CREATE INDEX GradeInfo_IdOrder ON GradeInfo ((GradeID GLOB '*[^0-9]*' OR GradeID = ''), length(ltrim(GradeID, '0')), ltrim(GradeID, '0'));
CREATE INDEX ClassInfo_IdOrder ON ClassInfo ((ClassID GLOB '*[^0-9]*' OR ClassID = ''), length(ltrim(ClassID, '0')), ltrim(ClassID, '0'));
CREATE INDEX SubjectInfo_IdOrder ON SubjectInfo ((SubjectID GLOB '*[^0-9]*' OR SubjectID = ''), length(ltrim(SubjectID, '0')), ltrim(SubjectID, '0'));
CREATE INDEX DormInfo_IdOrder ON DormInfo ((DormID GLOB '*[^0-9]*' OR DormID = ''), length(ltrim(DormID, '0')), ltrim(DormID, '0'));
CREATE INDEX User_IdOrder ON "User" ((UserID GLOB '*[^0-9]*' OR UserID = ''), length(ltrim(UserID, '0')), ltrim(UserID, '0'));

-- Columns that joins, lookups and queries compare.
CREATE INDEX StudentInfo_ClassID ON StudentInfo (ClassID);
CREATE INDEX StudentInfo_StuName ON StudentInfo (StuName);
CREATE INDEX ClassInfo_GradeID ON ClassInfo (GradeID);
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

-- The first account, so that a first login is possible.
INSERT INTO "User" (UserID, UserName, UserPassword, Remark)
VALUES ('1001', '管理员', 'admin', '初始账户,登录后请修改密码');

-- The version of these table shapes; an older file is upgraded when opened.
PRAGMA user_version = 1;
