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

-- Version 2: the change log. Every insert, update and delete of the tables
-- above is logged by triggers in the same transaction as the change, so no
-- writer can bypass it. The program tags its own writes: each user action is
-- one batch (ChangeBatch), and while its transaction runs the batch's number
-- stands in ChangeBatchCurrent, which the triggers read; the program removes
-- it again before the transaction ends, so another program's writes never see
-- it and are logged without a batch, with their own time.
CREATE TABLE ChangeBatch (
  BatchID     INTEGER PRIMARY KEY,
  ChangedAt   TEXT NOT NULL,     -- local time, yyyy-MM-dd HH:mm:ss
  UserID      TEXT,              -- the logged-in user number
  Window      TEXT,              -- the window whose action it was
  Action      TEXT NOT NULL,     -- 保存, 删除, 批量删除, 导入, 还原, 撤销, 重做...
  Description TEXT,
  FirstChange INTEGER NOT NULL,  -- the batch's entries have this ChangeID or larger ones
  UndoOf      INTEGER,           -- the batch an undo or redo reverses
  UndoneBy    INTEGER            -- the batch that reversed this one
);
CREATE INDEX ChangeBatch_Window ON ChangeBatch (Window);

-- One entry per row inserted (I: NewValue holds the row as a JSON object),
-- deleted (D: OldValue holds it) or per column updated (U: Field, OldValue,
-- NewValue as stored). A password is never logged: its change is an entry
-- without values. The operation's check compares with each letter in turn:
-- an IN list of three or more values in a constraint makes the engine build
-- a lookup table for every row a trigger logs, which cost more than the
-- logged update itself (version 3).
CREATE TABLE ChangeLog (
  ChangeID  INTEGER PRIMARY KEY,
  BatchID   INTEGER,             -- NULL for a write of another program
  ChangedAt TEXT,                -- the time of a write of another program
  TableName TEXT NOT NULL,
  RowKey,                        -- the row's key: Id of a record table, the identifier of a master table
  Operation TEXT NOT NULL CHECK (Operation = 'I' OR Operation = 'U' OR Operation = 'D'),
  Field     TEXT,
  OldValue,
  NewValue,
  UndoneBy  INTEGER              -- the batch that undid or restored the entry, or emptied it from the recycle bin
);
CREATE INDEX ChangeLog_Row ON ChangeLog (TableName, RowKey);
-- The recycle bin: deleted rows not restored, by table, newest last.
CREATE INDEX ChangeLog_Deleted ON ChangeLog (TableName) WHERE Operation = 'D' AND UndoneBy IS NULL;

CREATE TABLE ChangeBatchCurrent (
  BatchID INTEGER NOT NULL
);

-- The triggers, per table: one for inserts, one for deletes, and one per
-- column for updates, which fires only when the statement sets that column
-- and changes it, so a statement's cost grows with the columns it changes.
-- The engine fires a table's triggers latest created first: the columns' are
-- created last column first, and one statement's entries come in column
-- order. An inserted or deleted row's byte string (another program may store
-- one in any column) is kept as {"blob": "<hex>"}: JSON cannot hold it as it
-- is, and the undo puts it back exactly (version 4). A byte string is told
-- by comparing with the empty one, above which only byte strings sort: half
-- the cost of asking for the value's type. An entry reads the
-- running batch once, through a join (version 3; two lookups before): no
-- batch means another program's write, which gets its own time.
-- TeacherInfo
CREATE TRIGGER TeacherInfo_LogInsert AFTER INSERT ON TeacherInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', NEW.TeacherID, 'I',
          json_object('TeacherID', iif(NEW.TeacherID >= x'', json_object('blob', hex(NEW.TeacherID)), NEW.TeacherID),
            'TchName', iif(NEW.TchName >= x'', json_object('blob', hex(NEW.TchName)), NEW.TchName),
            'TchSex', iif(NEW.TchSex >= x'', json_object('blob', hex(NEW.TchSex)), NEW.TchSex),
            'TchAge', iif(NEW.TchAge >= x'', json_object('blob', hex(NEW.TchAge)), NEW.TchAge),
            'Duty', iif(NEW.Duty >= x'', json_object('blob', hex(NEW.Duty)), NEW.Duty),
            'TchContact', iif(NEW.TchContact >= x'', json_object('blob', hex(NEW.TchContact)), NEW.TchContact),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogDelete AFTER DELETE ON TeacherInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'D',
          json_object('TeacherID', iif(OLD.TeacherID >= x'', json_object('blob', hex(OLD.TeacherID)), OLD.TeacherID),
            'TchName', iif(OLD.TchName >= x'', json_object('blob', hex(OLD.TchName)), OLD.TchName),
            'TchSex', iif(OLD.TchSex >= x'', json_object('blob', hex(OLD.TchSex)), OLD.TchSex),
            'TchAge', iif(OLD.TchAge >= x'', json_object('blob', hex(OLD.TchAge)), OLD.TchAge),
            'Duty', iif(OLD.Duty >= x'', json_object('blob', hex(OLD.Duty)), OLD.Duty),
            'TchContact', iif(OLD.TchContact >= x'', json_object('blob', hex(OLD.TchContact)), OLD.TchContact),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogRemark AFTER UPDATE OF Remark ON TeacherInfo
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogTchContact AFTER UPDATE OF TchContact ON TeacherInfo
  WHEN OLD.TchContact IS NOT NEW.TchContact BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'U', 'TchContact', OLD.TchContact, NEW.TchContact
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogDuty AFTER UPDATE OF Duty ON TeacherInfo
  WHEN OLD.Duty IS NOT NEW.Duty BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'U', 'Duty', OLD.Duty, NEW.Duty
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogTchAge AFTER UPDATE OF TchAge ON TeacherInfo
  WHEN OLD.TchAge IS NOT NEW.TchAge BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'U', 'TchAge', OLD.TchAge, NEW.TchAge
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogTchSex AFTER UPDATE OF TchSex ON TeacherInfo
  WHEN OLD.TchSex IS NOT NEW.TchSex BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'U', 'TchSex', OLD.TchSex, NEW.TchSex
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogTchName AFTER UPDATE OF TchName ON TeacherInfo
  WHEN OLD.TchName IS NOT NEW.TchName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'U', 'TchName', OLD.TchName, NEW.TchName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER TeacherInfo_LogTeacherID AFTER UPDATE OF TeacherID ON TeacherInfo
  WHEN OLD.TeacherID IS NOT NEW.TeacherID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'TeacherInfo', OLD.TeacherID, 'U', 'TeacherID', OLD.TeacherID, NEW.TeacherID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- StudentInfo
CREATE TRIGGER StudentInfo_LogInsert AFTER INSERT ON StudentInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', NEW.StudentID, 'I',
          json_object('StudentID', iif(NEW.StudentID >= x'', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
            'StuName', iif(NEW.StuName >= x'', json_object('blob', hex(NEW.StuName)), NEW.StuName),
            'StuSex', iif(NEW.StuSex >= x'', json_object('blob', hex(NEW.StuSex)), NEW.StuSex),
            'StuAge', iif(NEW.StuAge >= x'', json_object('blob', hex(NEW.StuAge)), NEW.StuAge),
            'ClassID', iif(NEW.ClassID >= x'', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
            'InSchoolDate', iif(NEW.InSchoolDate >= x'', json_object('blob', hex(NEW.InSchoolDate)), NEW.InSchoolDate),
            'OutSchoolDate', iif(NEW.OutSchoolDate >= x'', json_object('blob', hex(NEW.OutSchoolDate)), NEW.OutSchoolDate),
            'StuContact', iif(NEW.StuContact >= x'', json_object('blob', hex(NEW.StuContact)), NEW.StuContact),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogDelete AFTER DELETE ON StudentInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'D',
          json_object('StudentID', iif(OLD.StudentID >= x'', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
            'StuName', iif(OLD.StuName >= x'', json_object('blob', hex(OLD.StuName)), OLD.StuName),
            'StuSex', iif(OLD.StuSex >= x'', json_object('blob', hex(OLD.StuSex)), OLD.StuSex),
            'StuAge', iif(OLD.StuAge >= x'', json_object('blob', hex(OLD.StuAge)), OLD.StuAge),
            'ClassID', iif(OLD.ClassID >= x'', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
            'InSchoolDate', iif(OLD.InSchoolDate >= x'', json_object('blob', hex(OLD.InSchoolDate)), OLD.InSchoolDate),
            'OutSchoolDate', iif(OLD.OutSchoolDate >= x'', json_object('blob', hex(OLD.OutSchoolDate)), OLD.OutSchoolDate),
            'StuContact', iif(OLD.StuContact >= x'', json_object('blob', hex(OLD.StuContact)), OLD.StuContact),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogRemark AFTER UPDATE OF Remark ON StudentInfo
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogStuContact AFTER UPDATE OF StuContact ON StudentInfo
  WHEN OLD.StuContact IS NOT NEW.StuContact BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'StuContact', OLD.StuContact, NEW.StuContact
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogOutSchoolDate AFTER UPDATE OF OutSchoolDate ON StudentInfo
  WHEN OLD.OutSchoolDate IS NOT NEW.OutSchoolDate BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'OutSchoolDate', OLD.OutSchoolDate, NEW.OutSchoolDate
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogInSchoolDate AFTER UPDATE OF InSchoolDate ON StudentInfo
  WHEN OLD.InSchoolDate IS NOT NEW.InSchoolDate BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'InSchoolDate', OLD.InSchoolDate, NEW.InSchoolDate
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogClassID AFTER UPDATE OF ClassID ON StudentInfo
  WHEN OLD.ClassID IS NOT NEW.ClassID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'ClassID', OLD.ClassID, NEW.ClassID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogStuAge AFTER UPDATE OF StuAge ON StudentInfo
  WHEN OLD.StuAge IS NOT NEW.StuAge BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'StuAge', OLD.StuAge, NEW.StuAge
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogStuSex AFTER UPDATE OF StuSex ON StudentInfo
  WHEN OLD.StuSex IS NOT NEW.StuSex BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'StuSex', OLD.StuSex, NEW.StuSex
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogStuName AFTER UPDATE OF StuName ON StudentInfo
  WHEN OLD.StuName IS NOT NEW.StuName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'StuName', OLD.StuName, NEW.StuName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER StudentInfo_LogStudentID AFTER UPDATE OF StudentID ON StudentInfo
  WHEN OLD.StudentID IS NOT NEW.StudentID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'StudentInfo', OLD.StudentID, 'U', 'StudentID', OLD.StudentID, NEW.StudentID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- GradeInfo
CREATE TRIGGER GradeInfo_LogInsert AFTER INSERT ON GradeInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'GradeInfo', NEW.GradeID, 'I',
          json_object('GradeID', iif(NEW.GradeID >= x'', json_object('blob', hex(NEW.GradeID)), NEW.GradeID),
            'GrdName', iif(NEW.GrdName >= x'', json_object('blob', hex(NEW.GrdName)), NEW.GrdName),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER GradeInfo_LogDelete AFTER DELETE ON GradeInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'GradeInfo', OLD.GradeID, 'D',
          json_object('GradeID', iif(OLD.GradeID >= x'', json_object('blob', hex(OLD.GradeID)), OLD.GradeID),
            'GrdName', iif(OLD.GrdName >= x'', json_object('blob', hex(OLD.GrdName)), OLD.GrdName),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER GradeInfo_LogRemark AFTER UPDATE OF Remark ON GradeInfo
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'GradeInfo', OLD.GradeID, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER GradeInfo_LogGrdName AFTER UPDATE OF GrdName ON GradeInfo
  WHEN OLD.GrdName IS NOT NEW.GrdName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'GradeInfo', OLD.GradeID, 'U', 'GrdName', OLD.GrdName, NEW.GrdName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER GradeInfo_LogGradeID AFTER UPDATE OF GradeID ON GradeInfo
  WHEN OLD.GradeID IS NOT NEW.GradeID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'GradeInfo', OLD.GradeID, 'U', 'GradeID', OLD.GradeID, NEW.GradeID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- ClassInfo
CREATE TRIGGER ClassInfo_LogInsert AFTER INSERT ON ClassInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'ClassInfo', NEW.ClassID, 'I',
          json_object('ClassID', iif(NEW.ClassID >= x'', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
            'GradeID', iif(NEW.GradeID >= x'', json_object('blob', hex(NEW.GradeID)), NEW.GradeID),
            'ClaName', iif(NEW.ClaName >= x'', json_object('blob', hex(NEW.ClaName)), NEW.ClaName),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER ClassInfo_LogDelete AFTER DELETE ON ClassInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'ClassInfo', OLD.ClassID, 'D',
          json_object('ClassID', iif(OLD.ClassID >= x'', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
            'GradeID', iif(OLD.GradeID >= x'', json_object('blob', hex(OLD.GradeID)), OLD.GradeID),
            'ClaName', iif(OLD.ClaName >= x'', json_object('blob', hex(OLD.ClaName)), OLD.ClaName),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER ClassInfo_LogRemark AFTER UPDATE OF Remark ON ClassInfo
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'ClassInfo', OLD.ClassID, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER ClassInfo_LogClaName AFTER UPDATE OF ClaName ON ClassInfo
  WHEN OLD.ClaName IS NOT NEW.ClaName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'ClassInfo', OLD.ClassID, 'U', 'ClaName', OLD.ClaName, NEW.ClaName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER ClassInfo_LogGradeID AFTER UPDATE OF GradeID ON ClassInfo
  WHEN OLD.GradeID IS NOT NEW.GradeID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'ClassInfo', OLD.ClassID, 'U', 'GradeID', OLD.GradeID, NEW.GradeID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER ClassInfo_LogClassID AFTER UPDATE OF ClassID ON ClassInfo
  WHEN OLD.ClassID IS NOT NEW.ClassID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'ClassInfo', OLD.ClassID, 'U', 'ClassID', OLD.ClassID, NEW.ClassID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- SubjectInfo
CREATE TRIGGER SubjectInfo_LogInsert AFTER INSERT ON SubjectInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'SubjectInfo', NEW.SubjectID, 'I',
          json_object('SubjectID', iif(NEW.SubjectID >= x'', json_object('blob', hex(NEW.SubjectID)), NEW.SubjectID),
            'SubName', iif(NEW.SubName >= x'', json_object('blob', hex(NEW.SubName)), NEW.SubName),
            'CreditHour', iif(NEW.CreditHour >= x'', json_object('blob', hex(NEW.CreditHour)), NEW.CreditHour),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER SubjectInfo_LogDelete AFTER DELETE ON SubjectInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'SubjectInfo', OLD.SubjectID, 'D',
          json_object('SubjectID', iif(OLD.SubjectID >= x'', json_object('blob', hex(OLD.SubjectID)), OLD.SubjectID),
            'SubName', iif(OLD.SubName >= x'', json_object('blob', hex(OLD.SubName)), OLD.SubName),
            'CreditHour', iif(OLD.CreditHour >= x'', json_object('blob', hex(OLD.CreditHour)), OLD.CreditHour),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER SubjectInfo_LogRemark AFTER UPDATE OF Remark ON SubjectInfo
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'SubjectInfo', OLD.SubjectID, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER SubjectInfo_LogCreditHour AFTER UPDATE OF CreditHour ON SubjectInfo
  WHEN OLD.CreditHour IS NOT NEW.CreditHour BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'SubjectInfo', OLD.SubjectID, 'U', 'CreditHour', OLD.CreditHour, NEW.CreditHour
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER SubjectInfo_LogSubName AFTER UPDATE OF SubName ON SubjectInfo
  WHEN OLD.SubName IS NOT NEW.SubName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'SubjectInfo', OLD.SubjectID, 'U', 'SubName', OLD.SubName, NEW.SubName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER SubjectInfo_LogSubjectID AFTER UPDATE OF SubjectID ON SubjectInfo
  WHEN OLD.SubjectID IS NOT NEW.SubjectID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'SubjectInfo', OLD.SubjectID, 'U', 'SubjectID', OLD.SubjectID, NEW.SubjectID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- DormInfo
CREATE TRIGGER DormInfo_LogInsert AFTER INSERT ON DormInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'DormInfo', NEW.DormID, 'I',
          json_object('DormID', iif(NEW.DormID >= x'', json_object('blob', hex(NEW.DormID)), NEW.DormID),
            'DormName', iif(NEW.DormName >= x'', json_object('blob', hex(NEW.DormName)), NEW.DormName),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER DormInfo_LogDelete AFTER DELETE ON DormInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'DormInfo', OLD.DormID, 'D',
          json_object('DormID', iif(OLD.DormID >= x'', json_object('blob', hex(OLD.DormID)), OLD.DormID),
            'DormName', iif(OLD.DormName >= x'', json_object('blob', hex(OLD.DormName)), OLD.DormName),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER DormInfo_LogRemark AFTER UPDATE OF Remark ON DormInfo
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'DormInfo', OLD.DormID, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER DormInfo_LogDormName AFTER UPDATE OF DormName ON DormInfo
  WHEN OLD.DormName IS NOT NEW.DormName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'DormInfo', OLD.DormID, 'U', 'DormName', OLD.DormName, NEW.DormName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER DormInfo_LogDormID AFTER UPDATE OF DormID ON DormInfo
  WHEN OLD.DormID IS NOT NEW.DormID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'DormInfo', OLD.DormID, 'U', 'DormID', OLD.DormID, NEW.DormID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- User
CREATE TRIGGER User_LogInsert AFTER INSERT ON "User" BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'User', NEW.UserID, 'I',
          json_object('UserID', iif(NEW.UserID >= x'', json_object('blob', hex(NEW.UserID)), NEW.UserID),
            'UserName', iif(NEW.UserName >= x'', json_object('blob', hex(NEW.UserName)), NEW.UserName),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER User_LogDelete AFTER DELETE ON "User" BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'User', OLD.UserID, 'D',
          json_object('UserID', iif(OLD.UserID >= x'', json_object('blob', hex(OLD.UserID)), OLD.UserID),
            'UserName', iif(OLD.UserName >= x'', json_object('blob', hex(OLD.UserName)), OLD.UserName),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER User_LogRemark AFTER UPDATE OF Remark ON "User"
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'User', OLD.UserID, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER User_LogUserPassword AFTER UPDATE OF UserPassword ON "User"
  WHEN OLD.UserPassword IS NOT NEW.UserPassword BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'User', OLD.UserID, 'U', 'UserPassword', NULL, NULL
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER User_LogUserName AFTER UPDATE OF UserName ON "User"
  WHEN OLD.UserName IS NOT NEW.UserName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'User', OLD.UserID, 'U', 'UserName', OLD.UserName, NEW.UserName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER User_LogUserID AFTER UPDATE OF UserID ON "User"
  WHEN OLD.UserID IS NOT NEW.UserID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'User', OLD.UserID, 'U', 'UserID', OLD.UserID, NEW.UserID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- Score
CREATE TRIGGER Score_LogInsert AFTER INSERT ON Score BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', NEW.Id, 'I',
          json_object('StudentID', iif(NEW.StudentID >= x'', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
            'ScoreDateTime', iif(NEW.ScoreDateTime >= x'', json_object('blob', hex(NEW.ScoreDateTime)), NEW.ScoreDateTime),
            'Term', iif(NEW.Term >= x'', json_object('blob', hex(NEW.Term)), NEW.Term),
            'SubjectID', iif(NEW.SubjectID >= x'', json_object('blob', hex(NEW.SubjectID)), NEW.SubjectID),
            'ClassID', iif(NEW.ClassID >= x'', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
            'Score', iif(NEW.Score >= x'', json_object('blob', hex(NEW.Score)), NEW.Score),
            'CreditHour', iif(NEW.CreditHour >= x'', json_object('blob', hex(NEW.CreditHour)), NEW.CreditHour),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogDelete AFTER DELETE ON Score BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'D',
          json_object('StudentID', iif(OLD.StudentID >= x'', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
            'ScoreDateTime', iif(OLD.ScoreDateTime >= x'', json_object('blob', hex(OLD.ScoreDateTime)), OLD.ScoreDateTime),
            'Term', iif(OLD.Term >= x'', json_object('blob', hex(OLD.Term)), OLD.Term),
            'SubjectID', iif(OLD.SubjectID >= x'', json_object('blob', hex(OLD.SubjectID)), OLD.SubjectID),
            'ClassID', iif(OLD.ClassID >= x'', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
            'Score', iif(OLD.Score >= x'', json_object('blob', hex(OLD.Score)), OLD.Score),
            'CreditHour', iif(OLD.CreditHour >= x'', json_object('blob', hex(OLD.CreditHour)), OLD.CreditHour),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogRemark AFTER UPDATE OF Remark ON Score
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogCreditHour AFTER UPDATE OF CreditHour ON Score
  WHEN OLD.CreditHour IS NOT NEW.CreditHour BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'CreditHour', OLD.CreditHour, NEW.CreditHour
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogScore AFTER UPDATE OF Score ON Score
  WHEN OLD.Score IS NOT NEW.Score BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'Score', OLD.Score, NEW.Score
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogClassID AFTER UPDATE OF ClassID ON Score
  WHEN OLD.ClassID IS NOT NEW.ClassID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'ClassID', OLD.ClassID, NEW.ClassID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogSubjectID AFTER UPDATE OF SubjectID ON Score
  WHEN OLD.SubjectID IS NOT NEW.SubjectID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'SubjectID', OLD.SubjectID, NEW.SubjectID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogTerm AFTER UPDATE OF Term ON Score
  WHEN OLD.Term IS NOT NEW.Term BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'Term', OLD.Term, NEW.Term
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogScoreDateTime AFTER UPDATE OF ScoreDateTime ON Score
  WHEN OLD.ScoreDateTime IS NOT NEW.ScoreDateTime BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'ScoreDateTime', OLD.ScoreDateTime, NEW.ScoreDateTime
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogStudentID AFTER UPDATE OF StudentID ON Score
  WHEN OLD.StudentID IS NOT NEW.StudentID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'StudentID', OLD.StudentID, NEW.StudentID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Score_LogId AFTER UPDATE OF Id ON Score
  WHEN OLD.Id IS NOT NEW.Id BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Score', OLD.Id, 'U', 'Id', OLD.Id, NEW.Id
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- Practice
CREATE TRIGGER Practice_LogInsert AFTER INSERT ON Practice BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', NEW.Id, 'I',
          json_object('StudentID', iif(NEW.StudentID >= x'', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
            'ClassID', iif(NEW.ClassID >= x'', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
            'PracticeDateTime', iif(NEW.PracticeDateTime >= x'', json_object('blob', hex(NEW.PracticeDateTime)), NEW.PracticeDateTime),
            'PracticeName', iif(NEW.PracticeName >= x'', json_object('blob', hex(NEW.PracticeName)), NEW.PracticeName),
            'PracticeResult', iif(NEW.PracticeResult >= x'', json_object('blob', hex(NEW.PracticeResult)), NEW.PracticeResult),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogDelete AFTER DELETE ON Practice BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'D',
          json_object('StudentID', iif(OLD.StudentID >= x'', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
            'ClassID', iif(OLD.ClassID >= x'', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
            'PracticeDateTime', iif(OLD.PracticeDateTime >= x'', json_object('blob', hex(OLD.PracticeDateTime)), OLD.PracticeDateTime),
            'PracticeName', iif(OLD.PracticeName >= x'', json_object('blob', hex(OLD.PracticeName)), OLD.PracticeName),
            'PracticeResult', iif(OLD.PracticeResult >= x'', json_object('blob', hex(OLD.PracticeResult)), OLD.PracticeResult),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogRemark AFTER UPDATE OF Remark ON Practice
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogPracticeResult AFTER UPDATE OF PracticeResult ON Practice
  WHEN OLD.PracticeResult IS NOT NEW.PracticeResult BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'U', 'PracticeResult', OLD.PracticeResult, NEW.PracticeResult
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogPracticeName AFTER UPDATE OF PracticeName ON Practice
  WHEN OLD.PracticeName IS NOT NEW.PracticeName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'U', 'PracticeName', OLD.PracticeName, NEW.PracticeName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogPracticeDateTime AFTER UPDATE OF PracticeDateTime ON Practice
  WHEN OLD.PracticeDateTime IS NOT NEW.PracticeDateTime BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'U', 'PracticeDateTime', OLD.PracticeDateTime, NEW.PracticeDateTime
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogClassID AFTER UPDATE OF ClassID ON Practice
  WHEN OLD.ClassID IS NOT NEW.ClassID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'U', 'ClassID', OLD.ClassID, NEW.ClassID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogStudentID AFTER UPDATE OF StudentID ON Practice
  WHEN OLD.StudentID IS NOT NEW.StudentID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'U', 'StudentID', OLD.StudentID, NEW.StudentID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Practice_LogId AFTER UPDATE OF Id ON Practice
  WHEN OLD.Id IS NOT NEW.Id BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Practice', OLD.Id, 'U', 'Id', OLD.Id, NEW.Id
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- Moral
CREATE TRIGGER Moral_LogInsert AFTER INSERT ON Moral BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', NEW.Id, 'I',
          json_object('StudentID', iif(NEW.StudentID >= x'', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
            'ClassID', iif(NEW.ClassID >= x'', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
            'MoralID', iif(NEW.MoralID >= x'', json_object('blob', hex(NEW.MoralID)), NEW.MoralID),
            'MoralResult', iif(NEW.MoralResult >= x'', json_object('blob', hex(NEW.MoralResult)), NEW.MoralResult),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Moral_LogDelete AFTER DELETE ON Moral BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', OLD.Id, 'D',
          json_object('StudentID', iif(OLD.StudentID >= x'', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
            'ClassID', iif(OLD.ClassID >= x'', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
            'MoralID', iif(OLD.MoralID >= x'', json_object('blob', hex(OLD.MoralID)), OLD.MoralID),
            'MoralResult', iif(OLD.MoralResult >= x'', json_object('blob', hex(OLD.MoralResult)), OLD.MoralResult),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Moral_LogRemark AFTER UPDATE OF Remark ON Moral
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', OLD.Id, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Moral_LogMoralResult AFTER UPDATE OF MoralResult ON Moral
  WHEN OLD.MoralResult IS NOT NEW.MoralResult BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', OLD.Id, 'U', 'MoralResult', OLD.MoralResult, NEW.MoralResult
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Moral_LogMoralID AFTER UPDATE OF MoralID ON Moral
  WHEN OLD.MoralID IS NOT NEW.MoralID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', OLD.Id, 'U', 'MoralID', OLD.MoralID, NEW.MoralID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Moral_LogClassID AFTER UPDATE OF ClassID ON Moral
  WHEN OLD.ClassID IS NOT NEW.ClassID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', OLD.Id, 'U', 'ClassID', OLD.ClassID, NEW.ClassID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Moral_LogStudentID AFTER UPDATE OF StudentID ON Moral
  WHEN OLD.StudentID IS NOT NEW.StudentID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', OLD.Id, 'U', 'StudentID', OLD.StudentID, NEW.StudentID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Moral_LogId AFTER UPDATE OF Id ON Moral
  WHEN OLD.Id IS NOT NEW.Id BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Moral', OLD.Id, 'U', 'Id', OLD.Id, NEW.Id
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- Price
CREATE TRIGGER Price_LogInsert AFTER INSERT ON Price BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', NEW.Id, 'I',
          json_object('ClassID', iif(NEW.ClassID >= x'', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
            'PriceName', iif(NEW.PriceName >= x'', json_object('blob', hex(NEW.PriceName)), NEW.PriceName),
            'StudentID', iif(NEW.StudentID >= x'', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
            'Price', iif(NEW.Price >= x'', json_object('blob', hex(NEW.Price)), NEW.Price),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Price_LogDelete AFTER DELETE ON Price BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', OLD.Id, 'D',
          json_object('ClassID', iif(OLD.ClassID >= x'', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
            'PriceName', iif(OLD.PriceName >= x'', json_object('blob', hex(OLD.PriceName)), OLD.PriceName),
            'StudentID', iif(OLD.StudentID >= x'', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
            'Price', iif(OLD.Price >= x'', json_object('blob', hex(OLD.Price)), OLD.Price),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Price_LogRemark AFTER UPDATE OF Remark ON Price
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', OLD.Id, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Price_LogPrice AFTER UPDATE OF Price ON Price
  WHEN OLD.Price IS NOT NEW.Price BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', OLD.Id, 'U', 'Price', OLD.Price, NEW.Price
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Price_LogStudentID AFTER UPDATE OF StudentID ON Price
  WHEN OLD.StudentID IS NOT NEW.StudentID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', OLD.Id, 'U', 'StudentID', OLD.StudentID, NEW.StudentID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Price_LogPriceName AFTER UPDATE OF PriceName ON Price
  WHEN OLD.PriceName IS NOT NEW.PriceName BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', OLD.Id, 'U', 'PriceName', OLD.PriceName, NEW.PriceName
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Price_LogClassID AFTER UPDATE OF ClassID ON Price
  WHEN OLD.ClassID IS NOT NEW.ClassID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', OLD.Id, 'U', 'ClassID', OLD.ClassID, NEW.ClassID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Price_LogId AFTER UPDATE OF Id ON Price
  WHEN OLD.Id IS NOT NEW.Id BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Price', OLD.Id, 'U', 'Id', OLD.Id, NEW.Id
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- Dorm
CREATE TRIGGER Dorm_LogInsert AFTER INSERT ON Dorm BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', NEW.Id, 'I',
          json_object('ClassID', iif(NEW.ClassID >= x'', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
            'StudentID', iif(NEW.StudentID >= x'', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
            'StuSex', iif(NEW.StuSex >= x'', json_object('blob', hex(NEW.StuSex)), NEW.StuSex),
            'DormID', iif(NEW.DormID >= x'', json_object('blob', hex(NEW.DormID)), NEW.DormID),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Dorm_LogDelete AFTER DELETE ON Dorm BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', OLD.Id, 'D',
          json_object('ClassID', iif(OLD.ClassID >= x'', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
            'StudentID', iif(OLD.StudentID >= x'', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
            'StuSex', iif(OLD.StuSex >= x'', json_object('blob', hex(OLD.StuSex)), OLD.StuSex),
            'DormID', iif(OLD.DormID >= x'', json_object('blob', hex(OLD.DormID)), OLD.DormID),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Dorm_LogRemark AFTER UPDATE OF Remark ON Dorm
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', OLD.Id, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Dorm_LogDormID AFTER UPDATE OF DormID ON Dorm
  WHEN OLD.DormID IS NOT NEW.DormID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', OLD.Id, 'U', 'DormID', OLD.DormID, NEW.DormID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Dorm_LogStuSex AFTER UPDATE OF StuSex ON Dorm
  WHEN OLD.StuSex IS NOT NEW.StuSex BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', OLD.Id, 'U', 'StuSex', OLD.StuSex, NEW.StuSex
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Dorm_LogStudentID AFTER UPDATE OF StudentID ON Dorm
  WHEN OLD.StudentID IS NOT NEW.StudentID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', OLD.Id, 'U', 'StudentID', OLD.StudentID, NEW.StudentID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Dorm_LogClassID AFTER UPDATE OF ClassID ON Dorm
  WHEN OLD.ClassID IS NOT NEW.ClassID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', OLD.Id, 'U', 'ClassID', OLD.ClassID, NEW.ClassID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Dorm_LogId AFTER UPDATE OF Id ON Dorm
  WHEN OLD.Id IS NOT NEW.Id BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Dorm', OLD.Id, 'U', 'Id', OLD.Id, NEW.Id
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- Course
CREATE TRIGGER Course_LogInsert AFTER INSERT ON Course BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', NEW.Id, 'I',
          json_object('StudentID', iif(NEW.StudentID >= x'', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
            'SubjectID', iif(NEW.SubjectID >= x'', json_object('blob', hex(NEW.SubjectID)), NEW.SubjectID),
            'TeacherID', iif(NEW.TeacherID >= x'', json_object('blob', hex(NEW.TeacherID)), NEW.TeacherID),
            'Term', iif(NEW.Term >= x'', json_object('blob', hex(NEW.Term)), NEW.Term),
            'BeginTime', iif(NEW.BeginTime >= x'', json_object('blob', hex(NEW.BeginTime)), NEW.BeginTime),
            'EndTime', iif(NEW.EndTime >= x'', json_object('blob', hex(NEW.EndTime)), NEW.EndTime),
            'Remark', iif(NEW.Remark >= x'', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogDelete AFTER DELETE ON Course BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'D',
          json_object('StudentID', iif(OLD.StudentID >= x'', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
            'SubjectID', iif(OLD.SubjectID >= x'', json_object('blob', hex(OLD.SubjectID)), OLD.SubjectID),
            'TeacherID', iif(OLD.TeacherID >= x'', json_object('blob', hex(OLD.TeacherID)), OLD.TeacherID),
            'Term', iif(OLD.Term >= x'', json_object('blob', hex(OLD.Term)), OLD.Term),
            'BeginTime', iif(OLD.BeginTime >= x'', json_object('blob', hex(OLD.BeginTime)), OLD.BeginTime),
            'EndTime', iif(OLD.EndTime >= x'', json_object('blob', hex(OLD.EndTime)), OLD.EndTime),
            'Remark', iif(OLD.Remark >= x'', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogRemark AFTER UPDATE OF Remark ON Course
  WHEN OLD.Remark IS NOT NEW.Remark BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'Remark', OLD.Remark, NEW.Remark
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogEndTime AFTER UPDATE OF EndTime ON Course
  WHEN OLD.EndTime IS NOT NEW.EndTime BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'EndTime', OLD.EndTime, NEW.EndTime
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogBeginTime AFTER UPDATE OF BeginTime ON Course
  WHEN OLD.BeginTime IS NOT NEW.BeginTime BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'BeginTime', OLD.BeginTime, NEW.BeginTime
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogTerm AFTER UPDATE OF Term ON Course
  WHEN OLD.Term IS NOT NEW.Term BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'Term', OLD.Term, NEW.Term
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogTeacherID AFTER UPDATE OF TeacherID ON Course
  WHEN OLD.TeacherID IS NOT NEW.TeacherID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'TeacherID', OLD.TeacherID, NEW.TeacherID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogSubjectID AFTER UPDATE OF SubjectID ON Course
  WHEN OLD.SubjectID IS NOT NEW.SubjectID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'SubjectID', OLD.SubjectID, NEW.SubjectID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogStudentID AFTER UPDATE OF StudentID ON Course
  WHEN OLD.StudentID IS NOT NEW.StudentID BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'StudentID', OLD.StudentID, NEW.StudentID
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;
CREATE TRIGGER Course_LogId AFTER UPDATE OF Id ON Course
  WHEN OLD.Id IS NOT NEW.Id BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN datetime('now', 'localtime') END,
          'Course', OLD.Id, 'U', 'Id', OLD.Id, NEW.Id
  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;
END;

-- End of version 2.

-- The version of these table shapes; an older file is upgraded when opened.
PRAGMA user_version = 5;
