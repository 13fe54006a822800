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
-- it and are logged without a batch, with their own time. (The values of an
-- update are taken as +OLD.x: without the column's affinity, which the
-- engine would otherwise apply through the first column of the list.)
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
-- without values. A value the JSON text cannot hold is kept as {"blob": hex}.
CREATE TABLE ChangeLog (
  ChangeID  INTEGER PRIMARY KEY,
  BatchID   INTEGER,             -- NULL for a write of another program
  ChangedAt TEXT,                -- the time of a write of another program
  TableName TEXT NOT NULL,
  RowKey,                        -- the row's key: Id of a record table, the identifier of a master table
  Operation TEXT NOT NULL CHECK (Operation IN ('I', 'U', 'D')),
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

CREATE TRIGGER TeacherInfo_LogInsert AFTER INSERT ON TeacherInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'TeacherInfo', NEW.TeacherID, 'I', json_object(
      'TeacherID', iif(typeof(NEW.TeacherID) = 'blob', json_object('blob', hex(NEW.TeacherID)), NEW.TeacherID),
      'TchName', iif(typeof(NEW.TchName) = 'blob', json_object('blob', hex(NEW.TchName)), NEW.TchName),
      'TchSex', iif(typeof(NEW.TchSex) = 'blob', json_object('blob', hex(NEW.TchSex)), NEW.TchSex),
      'TchAge', iif(typeof(NEW.TchAge) = 'blob', json_object('blob', hex(NEW.TchAge)), NEW.TchAge),
      'Duty', iif(typeof(NEW.Duty) = 'blob', json_object('blob', hex(NEW.Duty)), NEW.Duty),
      'TchContact', iif(typeof(NEW.TchContact) = 'blob', json_object('blob', hex(NEW.TchContact)), NEW.TchContact),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER TeacherInfo_LogUpdate AFTER UPDATE ON TeacherInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'TeacherInfo', OLD.TeacherID, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'TeacherID' AS f, +OLD.TeacherID AS o, +NEW.TeacherID AS n UNION ALL
        SELECT 'TchName', +OLD.TchName, +NEW.TchName UNION ALL
        SELECT 'TchSex', +OLD.TchSex, +NEW.TchSex UNION ALL
        SELECT 'TchAge', +OLD.TchAge, +NEW.TchAge UNION ALL
        SELECT 'Duty', +OLD.Duty, +NEW.Duty UNION ALL
        SELECT 'TchContact', +OLD.TchContact, +NEW.TchContact UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER TeacherInfo_LogDelete AFTER DELETE ON TeacherInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'TeacherInfo', OLD.TeacherID, 'D', json_object(
      'TeacherID', iif(typeof(OLD.TeacherID) = 'blob', json_object('blob', hex(OLD.TeacherID)), OLD.TeacherID),
      'TchName', iif(typeof(OLD.TchName) = 'blob', json_object('blob', hex(OLD.TchName)), OLD.TchName),
      'TchSex', iif(typeof(OLD.TchSex) = 'blob', json_object('blob', hex(OLD.TchSex)), OLD.TchSex),
      'TchAge', iif(typeof(OLD.TchAge) = 'blob', json_object('blob', hex(OLD.TchAge)), OLD.TchAge),
      'Duty', iif(typeof(OLD.Duty) = 'blob', json_object('blob', hex(OLD.Duty)), OLD.Duty),
      'TchContact', iif(typeof(OLD.TchContact) = 'blob', json_object('blob', hex(OLD.TchContact)), OLD.TchContact),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER StudentInfo_LogInsert AFTER INSERT ON StudentInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'StudentInfo', NEW.StudentID, 'I', json_object(
      'StudentID', iif(typeof(NEW.StudentID) = 'blob', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
      'StuName', iif(typeof(NEW.StuName) = 'blob', json_object('blob', hex(NEW.StuName)), NEW.StuName),
      'StuSex', iif(typeof(NEW.StuSex) = 'blob', json_object('blob', hex(NEW.StuSex)), NEW.StuSex),
      'StuAge', iif(typeof(NEW.StuAge) = 'blob', json_object('blob', hex(NEW.StuAge)), NEW.StuAge),
      'ClassID', iif(typeof(NEW.ClassID) = 'blob', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
      'InSchoolDate', iif(typeof(NEW.InSchoolDate) = 'blob', json_object('blob', hex(NEW.InSchoolDate)), NEW.InSchoolDate),
      'OutSchoolDate', iif(typeof(NEW.OutSchoolDate) = 'blob', json_object('blob', hex(NEW.OutSchoolDate)), NEW.OutSchoolDate),
      'StuContact', iif(typeof(NEW.StuContact) = 'blob', json_object('blob', hex(NEW.StuContact)), NEW.StuContact),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER StudentInfo_LogUpdate AFTER UPDATE ON StudentInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'StudentInfo', OLD.StudentID, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'StudentID' AS f, +OLD.StudentID AS o, +NEW.StudentID AS n UNION ALL
        SELECT 'StuName', +OLD.StuName, +NEW.StuName UNION ALL
        SELECT 'StuSex', +OLD.StuSex, +NEW.StuSex UNION ALL
        SELECT 'StuAge', +OLD.StuAge, +NEW.StuAge UNION ALL
        SELECT 'ClassID', +OLD.ClassID, +NEW.ClassID UNION ALL
        SELECT 'InSchoolDate', +OLD.InSchoolDate, +NEW.InSchoolDate UNION ALL
        SELECT 'OutSchoolDate', +OLD.OutSchoolDate, +NEW.OutSchoolDate UNION ALL
        SELECT 'StuContact', +OLD.StuContact, +NEW.StuContact UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER StudentInfo_LogDelete AFTER DELETE ON StudentInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'StudentInfo', OLD.StudentID, 'D', json_object(
      'StudentID', iif(typeof(OLD.StudentID) = 'blob', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
      'StuName', iif(typeof(OLD.StuName) = 'blob', json_object('blob', hex(OLD.StuName)), OLD.StuName),
      'StuSex', iif(typeof(OLD.StuSex) = 'blob', json_object('blob', hex(OLD.StuSex)), OLD.StuSex),
      'StuAge', iif(typeof(OLD.StuAge) = 'blob', json_object('blob', hex(OLD.StuAge)), OLD.StuAge),
      'ClassID', iif(typeof(OLD.ClassID) = 'blob', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
      'InSchoolDate', iif(typeof(OLD.InSchoolDate) = 'blob', json_object('blob', hex(OLD.InSchoolDate)), OLD.InSchoolDate),
      'OutSchoolDate', iif(typeof(OLD.OutSchoolDate) = 'blob', json_object('blob', hex(OLD.OutSchoolDate)), OLD.OutSchoolDate),
      'StuContact', iif(typeof(OLD.StuContact) = 'blob', json_object('blob', hex(OLD.StuContact)), OLD.StuContact),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER GradeInfo_LogInsert AFTER INSERT ON GradeInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'GradeInfo', NEW.GradeID, 'I', json_object(
      'GradeID', iif(typeof(NEW.GradeID) = 'blob', json_object('blob', hex(NEW.GradeID)), NEW.GradeID),
      'GrdName', iif(typeof(NEW.GrdName) = 'blob', json_object('blob', hex(NEW.GrdName)), NEW.GrdName),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER GradeInfo_LogUpdate AFTER UPDATE ON GradeInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'GradeInfo', OLD.GradeID, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'GradeID' AS f, +OLD.GradeID AS o, +NEW.GradeID AS n UNION ALL
        SELECT 'GrdName', +OLD.GrdName, +NEW.GrdName UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER GradeInfo_LogDelete AFTER DELETE ON GradeInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'GradeInfo', OLD.GradeID, 'D', json_object(
      'GradeID', iif(typeof(OLD.GradeID) = 'blob', json_object('blob', hex(OLD.GradeID)), OLD.GradeID),
      'GrdName', iif(typeof(OLD.GrdName) = 'blob', json_object('blob', hex(OLD.GrdName)), OLD.GrdName),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER ClassInfo_LogInsert AFTER INSERT ON ClassInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'ClassInfo', NEW.ClassID, 'I', json_object(
      'ClassID', iif(typeof(NEW.ClassID) = 'blob', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
      'GradeID', iif(typeof(NEW.GradeID) = 'blob', json_object('blob', hex(NEW.GradeID)), NEW.GradeID),
      'ClaName', iif(typeof(NEW.ClaName) = 'blob', json_object('blob', hex(NEW.ClaName)), NEW.ClaName),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER ClassInfo_LogUpdate AFTER UPDATE ON ClassInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'ClassInfo', OLD.ClassID, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'ClassID' AS f, +OLD.ClassID AS o, +NEW.ClassID AS n UNION ALL
        SELECT 'GradeID', +OLD.GradeID, +NEW.GradeID UNION ALL
        SELECT 'ClaName', +OLD.ClaName, +NEW.ClaName UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER ClassInfo_LogDelete AFTER DELETE ON ClassInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'ClassInfo', OLD.ClassID, 'D', json_object(
      'ClassID', iif(typeof(OLD.ClassID) = 'blob', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
      'GradeID', iif(typeof(OLD.GradeID) = 'blob', json_object('blob', hex(OLD.GradeID)), OLD.GradeID),
      'ClaName', iif(typeof(OLD.ClaName) = 'blob', json_object('blob', hex(OLD.ClaName)), OLD.ClaName),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER SubjectInfo_LogInsert AFTER INSERT ON SubjectInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'SubjectInfo', NEW.SubjectID, 'I', json_object(
      'SubjectID', iif(typeof(NEW.SubjectID) = 'blob', json_object('blob', hex(NEW.SubjectID)), NEW.SubjectID),
      'SubName', iif(typeof(NEW.SubName) = 'blob', json_object('blob', hex(NEW.SubName)), NEW.SubName),
      'CreditHour', iif(typeof(NEW.CreditHour) = 'blob', json_object('blob', hex(NEW.CreditHour)), NEW.CreditHour),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER SubjectInfo_LogUpdate AFTER UPDATE ON SubjectInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'SubjectInfo', OLD.SubjectID, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'SubjectID' AS f, +OLD.SubjectID AS o, +NEW.SubjectID AS n UNION ALL
        SELECT 'SubName', +OLD.SubName, +NEW.SubName UNION ALL
        SELECT 'CreditHour', +OLD.CreditHour, +NEW.CreditHour UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER SubjectInfo_LogDelete AFTER DELETE ON SubjectInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'SubjectInfo', OLD.SubjectID, 'D', json_object(
      'SubjectID', iif(typeof(OLD.SubjectID) = 'blob', json_object('blob', hex(OLD.SubjectID)), OLD.SubjectID),
      'SubName', iif(typeof(OLD.SubName) = 'blob', json_object('blob', hex(OLD.SubName)), OLD.SubName),
      'CreditHour', iif(typeof(OLD.CreditHour) = 'blob', json_object('blob', hex(OLD.CreditHour)), OLD.CreditHour),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER DormInfo_LogInsert AFTER INSERT ON DormInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'DormInfo', NEW.DormID, 'I', json_object(
      'DormID', iif(typeof(NEW.DormID) = 'blob', json_object('blob', hex(NEW.DormID)), NEW.DormID),
      'DormName', iif(typeof(NEW.DormName) = 'blob', json_object('blob', hex(NEW.DormName)), NEW.DormName),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER DormInfo_LogUpdate AFTER UPDATE ON DormInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'DormInfo', OLD.DormID, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'DormID' AS f, +OLD.DormID AS o, +NEW.DormID AS n UNION ALL
        SELECT 'DormName', +OLD.DormName, +NEW.DormName UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER DormInfo_LogDelete AFTER DELETE ON DormInfo BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'DormInfo', OLD.DormID, 'D', json_object(
      'DormID', iif(typeof(OLD.DormID) = 'blob', json_object('blob', hex(OLD.DormID)), OLD.DormID),
      'DormName', iif(typeof(OLD.DormName) = 'blob', json_object('blob', hex(OLD.DormName)), OLD.DormName),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER User_LogInsert AFTER INSERT ON "User" BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'User', NEW.UserID, 'I', json_object(
      'UserID', iif(typeof(NEW.UserID) = 'blob', json_object('blob', hex(NEW.UserID)), NEW.UserID),
      'UserName', iif(typeof(NEW.UserName) = 'blob', json_object('blob', hex(NEW.UserName)), NEW.UserName),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER User_LogUpdate AFTER UPDATE ON "User" BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'User', OLD.UserID, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'UserID' AS f, +OLD.UserID AS o, +NEW.UserID AS n UNION ALL
        SELECT 'UserName', +OLD.UserName, +NEW.UserName UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
  -- A password's change is logged without its values.
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'User', OLD.UserID, 'U', 'UserPassword'
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b)
  WHERE OLD.UserPassword IS NOT NEW.UserPassword;
END;

CREATE TRIGGER User_LogDelete AFTER DELETE ON "User" BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'User', OLD.UserID, 'D', json_object(
      'UserID', iif(typeof(OLD.UserID) = 'blob', json_object('blob', hex(OLD.UserID)), OLD.UserID),
      'UserName', iif(typeof(OLD.UserName) = 'blob', json_object('blob', hex(OLD.UserName)), OLD.UserName),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Score_LogInsert AFTER INSERT ON Score BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Score', NEW.Id, 'I', json_object(
      'StudentID', iif(typeof(NEW.StudentID) = 'blob', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
      'ScoreDateTime', iif(typeof(NEW.ScoreDateTime) = 'blob', json_object('blob', hex(NEW.ScoreDateTime)), NEW.ScoreDateTime),
      'Term', iif(typeof(NEW.Term) = 'blob', json_object('blob', hex(NEW.Term)), NEW.Term),
      'SubjectID', iif(typeof(NEW.SubjectID) = 'blob', json_object('blob', hex(NEW.SubjectID)), NEW.SubjectID),
      'ClassID', iif(typeof(NEW.ClassID) = 'blob', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
      'Score', iif(typeof(NEW.Score) = 'blob', json_object('blob', hex(NEW.Score)), NEW.Score),
      'CreditHour', iif(typeof(NEW.CreditHour) = 'blob', json_object('blob', hex(NEW.CreditHour)), NEW.CreditHour),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Score_LogUpdate AFTER UPDATE ON Score BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Score', OLD.Id, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'Id' AS f, +OLD.Id AS o, +NEW.Id AS n UNION ALL
        SELECT 'StudentID', +OLD.StudentID, +NEW.StudentID UNION ALL
        SELECT 'ScoreDateTime', +OLD.ScoreDateTime, +NEW.ScoreDateTime UNION ALL
        SELECT 'Term', +OLD.Term, +NEW.Term UNION ALL
        SELECT 'SubjectID', +OLD.SubjectID, +NEW.SubjectID UNION ALL
        SELECT 'ClassID', +OLD.ClassID, +NEW.ClassID UNION ALL
        SELECT 'Score', +OLD.Score, +NEW.Score UNION ALL
        SELECT 'CreditHour', +OLD.CreditHour, +NEW.CreditHour UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER Score_LogDelete AFTER DELETE ON Score BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Score', OLD.Id, 'D', json_object(
      'StudentID', iif(typeof(OLD.StudentID) = 'blob', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
      'ScoreDateTime', iif(typeof(OLD.ScoreDateTime) = 'blob', json_object('blob', hex(OLD.ScoreDateTime)), OLD.ScoreDateTime),
      'Term', iif(typeof(OLD.Term) = 'blob', json_object('blob', hex(OLD.Term)), OLD.Term),
      'SubjectID', iif(typeof(OLD.SubjectID) = 'blob', json_object('blob', hex(OLD.SubjectID)), OLD.SubjectID),
      'ClassID', iif(typeof(OLD.ClassID) = 'blob', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
      'Score', iif(typeof(OLD.Score) = 'blob', json_object('blob', hex(OLD.Score)), OLD.Score),
      'CreditHour', iif(typeof(OLD.CreditHour) = 'blob', json_object('blob', hex(OLD.CreditHour)), OLD.CreditHour),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Practice_LogInsert AFTER INSERT ON Practice BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Practice', NEW.Id, 'I', json_object(
      'StudentID', iif(typeof(NEW.StudentID) = 'blob', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
      'ClassID', iif(typeof(NEW.ClassID) = 'blob', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
      'PracticeDateTime', iif(typeof(NEW.PracticeDateTime) = 'blob', json_object('blob', hex(NEW.PracticeDateTime)), NEW.PracticeDateTime),
      'PracticeName', iif(typeof(NEW.PracticeName) = 'blob', json_object('blob', hex(NEW.PracticeName)), NEW.PracticeName),
      'PracticeResult', iif(typeof(NEW.PracticeResult) = 'blob', json_object('blob', hex(NEW.PracticeResult)), NEW.PracticeResult),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Practice_LogUpdate AFTER UPDATE ON Practice BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Practice', OLD.Id, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'Id' AS f, +OLD.Id AS o, +NEW.Id AS n UNION ALL
        SELECT 'StudentID', +OLD.StudentID, +NEW.StudentID UNION ALL
        SELECT 'ClassID', +OLD.ClassID, +NEW.ClassID UNION ALL
        SELECT 'PracticeDateTime', +OLD.PracticeDateTime, +NEW.PracticeDateTime UNION ALL
        SELECT 'PracticeName', +OLD.PracticeName, +NEW.PracticeName UNION ALL
        SELECT 'PracticeResult', +OLD.PracticeResult, +NEW.PracticeResult UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER Practice_LogDelete AFTER DELETE ON Practice BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Practice', OLD.Id, 'D', json_object(
      'StudentID', iif(typeof(OLD.StudentID) = 'blob', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
      'ClassID', iif(typeof(OLD.ClassID) = 'blob', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
      'PracticeDateTime', iif(typeof(OLD.PracticeDateTime) = 'blob', json_object('blob', hex(OLD.PracticeDateTime)), OLD.PracticeDateTime),
      'PracticeName', iif(typeof(OLD.PracticeName) = 'blob', json_object('blob', hex(OLD.PracticeName)), OLD.PracticeName),
      'PracticeResult', iif(typeof(OLD.PracticeResult) = 'blob', json_object('blob', hex(OLD.PracticeResult)), OLD.PracticeResult),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Moral_LogInsert AFTER INSERT ON Moral BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Moral', NEW.Id, 'I', json_object(
      'StudentID', iif(typeof(NEW.StudentID) = 'blob', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
      'ClassID', iif(typeof(NEW.ClassID) = 'blob', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
      'MoralID', iif(typeof(NEW.MoralID) = 'blob', json_object('blob', hex(NEW.MoralID)), NEW.MoralID),
      'MoralResult', iif(typeof(NEW.MoralResult) = 'blob', json_object('blob', hex(NEW.MoralResult)), NEW.MoralResult),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Moral_LogUpdate AFTER UPDATE ON Moral BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Moral', OLD.Id, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'Id' AS f, +OLD.Id AS o, +NEW.Id AS n UNION ALL
        SELECT 'StudentID', +OLD.StudentID, +NEW.StudentID UNION ALL
        SELECT 'ClassID', +OLD.ClassID, +NEW.ClassID UNION ALL
        SELECT 'MoralID', +OLD.MoralID, +NEW.MoralID UNION ALL
        SELECT 'MoralResult', +OLD.MoralResult, +NEW.MoralResult UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER Moral_LogDelete AFTER DELETE ON Moral BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Moral', OLD.Id, 'D', json_object(
      'StudentID', iif(typeof(OLD.StudentID) = 'blob', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
      'ClassID', iif(typeof(OLD.ClassID) = 'blob', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
      'MoralID', iif(typeof(OLD.MoralID) = 'blob', json_object('blob', hex(OLD.MoralID)), OLD.MoralID),
      'MoralResult', iif(typeof(OLD.MoralResult) = 'blob', json_object('blob', hex(OLD.MoralResult)), OLD.MoralResult),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Price_LogInsert AFTER INSERT ON Price BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Price', NEW.Id, 'I', json_object(
      'ClassID', iif(typeof(NEW.ClassID) = 'blob', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
      'PriceName', iif(typeof(NEW.PriceName) = 'blob', json_object('blob', hex(NEW.PriceName)), NEW.PriceName),
      'StudentID', iif(typeof(NEW.StudentID) = 'blob', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
      'Price', iif(typeof(NEW.Price) = 'blob', json_object('blob', hex(NEW.Price)), NEW.Price),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Price_LogUpdate AFTER UPDATE ON Price BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Price', OLD.Id, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'Id' AS f, +OLD.Id AS o, +NEW.Id AS n UNION ALL
        SELECT 'ClassID', +OLD.ClassID, +NEW.ClassID UNION ALL
        SELECT 'PriceName', +OLD.PriceName, +NEW.PriceName UNION ALL
        SELECT 'StudentID', +OLD.StudentID, +NEW.StudentID UNION ALL
        SELECT 'Price', +OLD.Price, +NEW.Price UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER Price_LogDelete AFTER DELETE ON Price BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Price', OLD.Id, 'D', json_object(
      'ClassID', iif(typeof(OLD.ClassID) = 'blob', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
      'PriceName', iif(typeof(OLD.PriceName) = 'blob', json_object('blob', hex(OLD.PriceName)), OLD.PriceName),
      'StudentID', iif(typeof(OLD.StudentID) = 'blob', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
      'Price', iif(typeof(OLD.Price) = 'blob', json_object('blob', hex(OLD.Price)), OLD.Price),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Dorm_LogInsert AFTER INSERT ON Dorm BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Dorm', NEW.Id, 'I', json_object(
      'ClassID', iif(typeof(NEW.ClassID) = 'blob', json_object('blob', hex(NEW.ClassID)), NEW.ClassID),
      'StudentID', iif(typeof(NEW.StudentID) = 'blob', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
      'StuSex', iif(typeof(NEW.StuSex) = 'blob', json_object('blob', hex(NEW.StuSex)), NEW.StuSex),
      'DormID', iif(typeof(NEW.DormID) = 'blob', json_object('blob', hex(NEW.DormID)), NEW.DormID),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Dorm_LogUpdate AFTER UPDATE ON Dorm BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Dorm', OLD.Id, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'Id' AS f, +OLD.Id AS o, +NEW.Id AS n UNION ALL
        SELECT 'ClassID', +OLD.ClassID, +NEW.ClassID UNION ALL
        SELECT 'StudentID', +OLD.StudentID, +NEW.StudentID UNION ALL
        SELECT 'StuSex', +OLD.StuSex, +NEW.StuSex UNION ALL
        SELECT 'DormID', +OLD.DormID, +NEW.DormID UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER Dorm_LogDelete AFTER DELETE ON Dorm BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Dorm', OLD.Id, 'D', json_object(
      'ClassID', iif(typeof(OLD.ClassID) = 'blob', json_object('blob', hex(OLD.ClassID)), OLD.ClassID),
      'StudentID', iif(typeof(OLD.StudentID) = 'blob', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
      'StuSex', iif(typeof(OLD.StuSex) = 'blob', json_object('blob', hex(OLD.StuSex)), OLD.StuSex),
      'DormID', iif(typeof(OLD.DormID) = 'blob', json_object('blob', hex(OLD.DormID)), OLD.DormID),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Course_LogInsert AFTER INSERT ON Course BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Course', NEW.Id, 'I', json_object(
      'StudentID', iif(typeof(NEW.StudentID) = 'blob', json_object('blob', hex(NEW.StudentID)), NEW.StudentID),
      'SubjectID', iif(typeof(NEW.SubjectID) = 'blob', json_object('blob', hex(NEW.SubjectID)), NEW.SubjectID),
      'TeacherID', iif(typeof(NEW.TeacherID) = 'blob', json_object('blob', hex(NEW.TeacherID)), NEW.TeacherID),
      'Term', iif(typeof(NEW.Term) = 'blob', json_object('blob', hex(NEW.Term)), NEW.Term),
      'BeginTime', iif(typeof(NEW.BeginTime) = 'blob', json_object('blob', hex(NEW.BeginTime)), NEW.BeginTime),
      'EndTime', iif(typeof(NEW.EndTime) = 'blob', json_object('blob', hex(NEW.EndTime)), NEW.EndTime),
      'Remark', iif(typeof(NEW.Remark) = 'blob', json_object('blob', hex(NEW.Remark)), NEW.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

CREATE TRIGGER Course_LogUpdate AFTER UPDATE ON Course BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, Field, OldValue, NewValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Course', OLD.Id, 'U', f, o, n
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b),
       (SELECT 'Id' AS f, +OLD.Id AS o, +NEW.Id AS n UNION ALL
        SELECT 'StudentID', +OLD.StudentID, +NEW.StudentID UNION ALL
        SELECT 'SubjectID', +OLD.SubjectID, +NEW.SubjectID UNION ALL
        SELECT 'TeacherID', +OLD.TeacherID, +NEW.TeacherID UNION ALL
        SELECT 'Term', +OLD.Term, +NEW.Term UNION ALL
        SELECT 'BeginTime', +OLD.BeginTime, +NEW.BeginTime UNION ALL
        SELECT 'EndTime', +OLD.EndTime, +NEW.EndTime UNION ALL
        SELECT 'Remark', +OLD.Remark, +NEW.Remark)
  WHERE o IS NOT n;
END;

CREATE TRIGGER Course_LogDelete AFTER DELETE ON Course BEGIN
  INSERT INTO ChangeLog (BatchID, ChangedAt, TableName, RowKey, Operation, OldValue)
  SELECT b, iif(b IS NULL, datetime('now', 'localtime'), NULL), 'Course', OLD.Id, 'D', json_object(
      'StudentID', iif(typeof(OLD.StudentID) = 'blob', json_object('blob', hex(OLD.StudentID)), OLD.StudentID),
      'SubjectID', iif(typeof(OLD.SubjectID) = 'blob', json_object('blob', hex(OLD.SubjectID)), OLD.SubjectID),
      'TeacherID', iif(typeof(OLD.TeacherID) = 'blob', json_object('blob', hex(OLD.TeacherID)), OLD.TeacherID),
      'Term', iif(typeof(OLD.Term) = 'blob', json_object('blob', hex(OLD.Term)), OLD.Term),
      'BeginTime', iif(typeof(OLD.BeginTime) = 'blob', json_object('blob', hex(OLD.BeginTime)), OLD.BeginTime),
      'EndTime', iif(typeof(OLD.EndTime) = 'blob', json_object('blob', hex(OLD.EndTime)), OLD.EndTime),
      'Remark', iif(typeof(OLD.Remark) = 'blob', json_object('blob', hex(OLD.Remark)), OLD.Remark))
  FROM (SELECT (SELECT BatchID FROM ChangeBatchCurrent) AS b);
END;

-- End of version 2.

-- The version of these table shapes; an older file is upgraded when opened.
PRAGMA user_version = 2;
