#include "bench/Generator.h"

#include <QElapsedTimer>
#include <QFile>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace gen {

namespace {

// splitmix64: small, fast and the same on every machine.
class Random
{
public:
    explicit Random(unsigned long long seed) : m_state(seed) {}
    unsigned long long next()
    {
        unsigned long long z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 .. n-1
    long long below(long long n) { return n <= 0 ? 0 : static_cast<long long>(next() % static_cast<unsigned long long>(n)); }
    long long between(long long lo, long long hi) { return lo + below(hi - lo + 1); }
    template<size_t N>
    const char *pick(const char *const (&list)[N]) { return list[below(N)]; }

private:
    unsigned long long m_state;
};

const char *const surnames[] = {
    "王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周", "徐", "孙", "马", "朱", "胡", "郭", "何", "高",
    "林", "罗", "郑", "梁", "谢", "宋", "唐", "许", "韩", "冯", "邓", "曹", "彭", "曾", "肖", "田", "董", "袁",
    "潘", "于", "蒋", "蔡", "余", "杜", "叶", "程", "苏", "魏", "吕", "丁", "任", "沈", "姚", "卢", "姜", "崔",
    "钟", "谭", "陆", "汪", "范", "金", "石", "廖", "贾", "夏", "韦", "付", "方", "白", "邹", "孟", "熊", "秦",
    "欧阳", "司马", "诸葛", "上官"};
const char *const maleChars[] = {"伟", "强", "磊", "军", "洋", "勇", "杰", "涛", "明", "超", "刚", "平", "辉", "鹏",
                                 "华", "飞", "鑫", "波", "斌", "宇", "浩", "凯", "健", "俊", "帆", "帅", "旭", "宁",
                                 "龙", "林", "峰", "建", "国", "文", "志", "海", "东", "晨", "博", "思"};
const char *const femaleChars[] = {"芳", "娜", "敏", "静", "丽", "艳", "娟", "霞", "燕", "玲", "婷", "雪", "慧", "颖",
                                   "琳", "倩", "欣", "佳", "蕾", "莉", "晶", "洁", "琴", "云", "萍", "红", "梅", "月",
                                   "婧", "瑶", "怡", "楠", "雯", "璐", "菲", "琪", "悦", "晓", "春", "文"};
const char *const collegeNames[] = {
    "计算机学院", "外国语学院", "数学科学学院", "物理学院", "化学化工学院", "生命科学学院", "经济管理学院",
    "法学院", "文学院", "历史文化学院", "新闻传播学院", "艺术学院", "体育学院", "教育科学学院", "机械工程学院",
    "电气工程学院", "土木工程学院", "材料科学学院", "环境科学学院", "医学院", "药学院", "农学院", "建筑学院",
    "音乐学院", "马克思主义学院", "软件学院", "信息工程学院", "地理科学学院", "公共管理学院", "国际教育学院"};
const char *const majorNames[] = {"计算机", "英语", "数学", "物理", "化工", "生物", "会计", "法学", "汉语言",
                                  "历史", "新闻", "美术", "体育", "教育", "机械", "电气", "土木", "材料", "环境",
                                  "临床", "药学", "农学", "建筑", "音乐", "思政", "软件", "通信", "地理", "行政",
                                  "国际贸易"};
const char *const subjectNames[] = {
    "高等数学", "线性代数", "概率论与数理统计", "大学英语", "大学物理", "C语言程序设计", "数据结构", "操作系统",
    "计算机网络", "数据库原理", "离散数学", "计算机组成原理", "编译原理", "软件工程", "马克思主义基本原理",
    "毛泽东思想概论", "中国近现代史纲要", "思想道德修养", "大学体育", "大学语文", "管理学原理", "微观经济学",
    "宏观经济学", "会计学基础", "市场营销", "统计学", "法学概论", "心理学导论", "普通化学", "有机化学",
    "电路原理", "模拟电子技术", "数字电子技术", "信号与系统", "自动控制原理", "工程制图", "理论力学",
    "材料力学", "形势与政策", "军事理论"};
const double credits[] = {1.0, 1.5, 2.0, 2.0, 2.5, 3.0, 3.0, 3.5, 4.0, 4.5, 5.0};
const char *const duties[] = {"助教", "讲师", "讲师", "副教授", "教授", "辅导员", "系主任"};
const char *const areas[] = {"东区", "西区", "南区", "北区"};
const char *const terms[] = {"第一学期", "第二学期", "第三学期", "第四学期"};
const char *const feeNames[] = {"学费", "书本费", "工本费", "其他费用"};
const char *const practiceNames[] = {"暑期社会调查", "社区志愿服务", "企业参观实习", "山区支教", "科技文化下乡",
                                     "敬老院义务劳动", "环保宣传活动", "毕业实习", "社会实践调研", "勤工助学"};
const char *const practiceResults[] = {"优秀", "良好", "合格", "表现突出,受到实践单位表扬", "按时完成,提交实践报告",
                                       "完成调研报告一份\n获评优秀团队"};
const char *const moralItems[] = {"1001", "1002", "1003", "2001", "2002", "3001", "3002"};
const char *const scoreRemarks[] = {"补考", "缓考", "重修"};

class Db
{
public:
    explicit Db(sqlite3 *db) : m_db(db) {}
    void exec(const char *sql)
    {
        char *message = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "failed";
            sqlite3_free(message);
            throw std::runtime_error(text);
        }
    }
    sqlite3 *handle() const { return m_db; }
    // One column of every row of a query, as texts.
    std::vector<std::string> column(const char *sql)
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(m_db));
        std::vector<std::string> rows;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            rows.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        return rows;
    }

private:
    sqlite3 *m_db;
};

// The generated rows are the file's content, not a clerk's changes: the
// change log's triggers stand aside while they are written, in the same
// transaction, and come back before it ends.
class TriggersAside
{
public:
    explicit TriggersAside(Db &db) : m_db(db)
    {
        m_definitions = db.column("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND sql IS NOT NULL");
        for (const std::string &name : db.column("SELECT name FROM sqlite_master WHERE type = 'trigger'"))
            db.exec(("DROP TRIGGER \"" + name + "\"").c_str());
    }
    void restore()
    {
        for (const std::string &sql : m_definitions)
            m_db.exec(sql.c_str());
    }

private:
    Db &m_db;
    std::vector<std::string> m_definitions;
};

// One prepared INSERT with its column list; values are bound in order and
// the row is stored by row().
class Insert
{
public:
    Insert(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in " + sql);
    }
    ~Insert() { sqlite3_finalize(m_stmt); }
    Insert &text(const char *value)
    {
        if (value)
            sqlite3_bind_text(m_stmt, ++m_column, value, -1, SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(m_stmt, ++m_column);
        return *this;
    }
    Insert &text(const std::string &value) { return text(value.c_str()); }
    Insert &number(long long value) { return text(std::to_string(value)); }  // identifiers are text
    Insert &integer(long long value)
    {
        sqlite3_bind_int64(m_stmt, ++m_column, value);
        return *this;
    }
    Insert &real(double value)
    {
        sqlite3_bind_double(m_stmt, ++m_column, value);
        return *this;
    }
    Insert &null()
    {
        sqlite3_bind_null(m_stmt, ++m_column);
        return *this;
    }
    void row()
    {
        if (sqlite3_step(m_stmt) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(m_db));
        sqlite3_reset(m_stmt);
        m_column = 0;
    }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    int m_column = 0;
};

std::string isoDate(long long year, long long month, long long day)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", year, month, day);
    return buffer;
}

std::string phone(Random &random)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "1%02lld%08lld", 30 + random.below(60), random.below(100000000));
    return buffer;
}

std::string personName(Random &random, bool male)
{
    std::string name = random.pick(surnames);
    const int given = random.below(3) == 0 ? 1 : 2;
    for (int i = 0; i < given; ++i)
        name += male ? random.pick(maleChars) : random.pick(femaleChars);
    return name;
}

constexpr long long firstId = 2007001;

struct Student
{
    long long classIndex;
    bool male;
    long long entryYear;
};

}

Scale scaleByName(const QString &name)
{
    Scale s;
    if (name == QLatin1String("small")) {
        s = {name, 10, 50, 40, 120, 400, 2000, 100000, 20000};
    } else if (name == QLatin1String("large")) {
        s = {name, 30, 600, 40, 2000, 6000, 30000, 5000000, 1000000};
    }
    return s;
}

Scale proportionalScale(long long students, long long scoresPerStudent)
{
    Scale s;
    s.name = QStringLiteral("%1 students").arg(students);
    s.students = students;
    s.classes = qMax(1LL, students / 40);
    s.colleges = qMin(30LL, qMax(1LL, s.classes / 20));
    s.subjects = 40;
    s.teachers = qMax(10LL, students / 20);
    s.dorms = qMax(1LL, students / 6);
    s.scores = students * scoresPerStudent;
    s.otherRecords = students;
    return s;
}

QString defaultSchemaFile()
{
    return QStringLiteral(VELTRANA_SCHEMA_FILE);
}

Counts generate(const QString &path, const Scale &scale, unsigned long long seed, const QString &schemaFile,
                QString *error)
{
    Counts made;
    QElapsedTimer timer;
    timer.start();
    const bool fresh = !QFile::exists(path);
    QByteArray schema;
    if (fresh) {
        QFile file(schemaFile.isEmpty() ? defaultSchemaFile() : schemaFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the schema %1").arg(file.fileName());
            return made;
        }
        schema = file.readAll();
    }
    sqlite3 *handle = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &handle,
                        SQLITE_OPEN_READWRITE | (fresh ? SQLITE_OPEN_CREATE : 0), nullptr)
        != SQLITE_OK) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(handle)));
        sqlite3_close(handle);
        return made;
    }
    Db db(handle);
    try {
        // A new file needs no journal (a failure removes it); rows added to an
        // existing file keep one in memory, so a failure rolls them back.
        db.exec(fresh ? "PRAGMA journal_mode=OFF" : "PRAGMA journal_mode=MEMORY");
        db.exec("PRAGMA synchronous=OFF; PRAGMA cache_size=-262144; PRAGMA temp_store=MEMORY; "
                "PRAGMA locking_mode=EXCLUSIVE;");
        if (fresh)
            db.exec(schema.constData());
        {
            sqlite3_stmt *stmt = nullptr;
            sqlite3_prepare_v2(handle, "SELECT EXISTS (SELECT 1 FROM StudentInfo)", -1, &stmt, nullptr);
            const bool hasStudents = stmt && sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0);
            sqlite3_finalize(stmt);
            if (hasStudents)
                throw std::runtime_error("the database holds students already; generate into a new file");
        }
        db.exec("BEGIN");
        TriggersAside triggers(db);
        Random random(seed);

        Insert college(handle, "INSERT INTO GradeInfo (GradeID, GrdName, Remark) VALUES (?, ?, ?)");
        for (long long g = 0; g < scale.colleges; ++g) {
            std::string name = collegeNames[g % std::size(collegeNames)];
            if (g >= static_cast<long long>(std::size(collegeNames)))
                name += std::to_string(g / std::size(collegeNames) + 1);
            college.number(firstId + g).text(name).null().row();
        }

        // Classes belong to colleges in runs; each has an entry year.
        std::vector<long long> classYear(scale.classes);
        Insert klass(handle, "INSERT INTO ClassInfo (ClassID, GradeID, ClaName, Remark) VALUES (?, ?, ?, ?)");
        const long long classesPerCollege = qMax(1LL, (scale.classes + scale.colleges - 1) / qMax(1LL, scale.colleges));
        for (long long c = 0; c < scale.classes; ++c) {
            const long long g = c / classesPerCollege;
            classYear[c] = 2004 + (c % classesPerCollege) % 4;
            const std::string name = std::string(majorNames[g % std::size(majorNames)]) + std::to_string(classYear[c])
                                     + "级" + std::to_string(c % classesPerCollege / 4 + 1) + "班";
            klass.number(firstId + c).number(firstId + qMin(g, scale.colleges - 1)).text(name).null().row();
        }

        std::vector<double> subjectCredit(scale.subjects);
        Insert subject(handle, "INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour, Remark) VALUES (?, ?, ?, ?)");
        for (long long s = 0; s < scale.subjects; ++s) {
            std::string name = subjectNames[s % std::size(subjectNames)];
            if (s >= static_cast<long long>(std::size(subjectNames)))
                name += std::to_string(s / std::size(subjectNames) + 1);
            subjectCredit[s] = credits[random.below(std::size(credits))];
            subject.number(firstId + s).text(name).real(subjectCredit[s]).text(s % 7 == 6 ? "选修" : nullptr).row();
        }

        Insert teacher(handle, "INSERT INTO TeacherInfo (TeacherID, TchName, TchSex, TchAge, Duty, TchContact, Remark) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?)");
        for (long long t = 0; t < scale.teachers; ++t) {
            const bool male = random.below(100) < 55;
            teacher.number(firstId + t).text(personName(random, male)).text(male ? "男" : "女")
                .integer(random.between(26, 62)).text(random.pick(duties)).text(phone(random)).null().row();
        }

        Insert dorm(handle, "INSERT INTO DormInfo (DormID, DormName, Remark) VALUES (?, ?, ?)");
        for (long long d = 0; d < scale.dorms; ++d) {
            const std::string name = std::string(areas[d % 4]) + std::to_string(d / 4 / 120 + 1) + "栋"
                                     + std::to_string((d / 4 % 120) / 20 + 1) + std::to_string(d / 4 % 20 + 1 + 100).substr(1);
            dorm.number(firstId + d).text(name).text(d % 2 ? "女生宿舍" : "男生宿舍").null().row();
        }

        // Students fill the classes in order, so class numbers rise with student numbers.
        std::vector<Student> students(scale.students);
        Insert student(handle, "INSERT INTO StudentInfo (StudentID, StuName, StuSex, StuAge, ClassID, InSchoolDate, "
                               "OutSchoolDate, StuContact, Remark) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        for (long long i = 0; i < scale.students; ++i) {
            Student &s = students[i];
            s.classIndex = qMin(scale.classes - 1, i * scale.classes / scale.students);
            s.male = random.below(100) < 52;
            s.entryYear = classYear[s.classIndex];
            student.number(firstId + i).text(personName(random, s.male)).text(s.male ? "男" : "女")
                .integer(random.between(17, 23)).number(firstId + s.classIndex).text(isoDate(s.entryYear, 9, 1))
                .text(isoDate(s.entryYear + 4, 7, 1)).text(phone(random)).text(i % 50 == 0 ? "班长" : nullptr).row();
        }
        made.students = scale.students;

        Insert score(handle, "INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, "
                             "Remark) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        for (long long i = 0; i < scale.students; ++i) {
            const Student &s = students[i];
            const long long count = (i + 1) * scale.scores / scale.students - i * scale.scores / scale.students;
            for (long long j = 0; j < count; ++j) {
                const long long term = (j * 4 / qMax(1LL, count)) % 4;
                const long long subjectIndex = (i + j * 7) % scale.subjects;
                // Examinations close each term: January and July after the entry year.
                const long long year = s.entryYear + 1 + term / 2;
                const long long month = term % 2 == 0 ? 1 : 7;
                const long long mark = qBound(20LL, 55 + random.below(24) + random.below(24), 100);
                const long long remark = random.below(200);
                score.number(firstId + i).text(isoDate(year, month, 5 + random.below(20))).text(terms[term])
                    .number(firstId + subjectIndex).number(firstId + s.classIndex).real(double(mark))
                    .real(subjectCredit[subjectIndex]).text(remark < 3 ? scoreRemarks[remark] : nullptr).row();
            }
        }
        made.scores = scale.scores;

        // The other record tables: rows spread over the students in order.
        const long long rows = scale.otherRecords;
        auto studentOf = [&](long long r) { return r * scale.students / qMax(1LL, rows); };
        Insert dormRow(handle, "INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) VALUES (?, ?, ?, ?, ?)");
        for (long long r = 0; r < rows; ++r) {
            const long long i = studentOf(r);
            const Student &s = students[i];
            const long long d = (i / 5 * 2 + (s.male ? 0 : 1) + random.below(3) * 2) % scale.dorms;
            dormRow.number(firstId + s.classIndex).number(firstId + i).text(s.male ? "男" : "女").number(firstId + d)
                .text(random.below(10) == 0 ? "调换宿舍" : nullptr).row();
        }
        Insert price(handle, "INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) VALUES (?, ?, ?, ?, ?)");
        for (long long r = 0; r < rows; ++r) {
            const long long i = studentOf(r);
            const long long kind = random.below(4);
            const double amount = kind == 0 ? 4000 + 500 * random.below(4)
                                  : kind == 1 ? 200 + 10 * random.below(60)
                                  : kind == 2 ? 5 + random.below(46)
                                              : 50 + 10 * random.below(50);
            price.number(firstId + students[i].classIndex).text(feeNames[kind]).number(firstId + i).real(amount)
                .text(random.below(20) == 0 ? "分期缴纳" : nullptr).row();
        }
        Insert practice(handle, "INSERT INTO Practice (StudentID, ClassID, PracticeDateTime, PracticeName, "
                                "PracticeResult, Remark) VALUES (?, ?, ?, ?, ?, ?)");
        for (long long r = 0; r < rows; ++r) {
            const long long i = studentOf(r);
            const Student &s = students[i];
            practice.number(firstId + i).number(firstId + s.classIndex)
                .text(isoDate(s.entryYear + random.below(4), 7 + random.below(2), 1 + random.below(28)))
                .text(random.pick(practiceNames)).text(random.pick(practiceResults)).null().row();
        }
        Insert moral(handle, "INSERT INTO Moral (StudentID, ClassID, MoralID, MoralResult, Remark) VALUES (?, ?, ?, ?, ?)");
        for (long long r = 0; r < rows; ++r) {
            const long long i = studentOf(r);
            moral.number(firstId + i).number(firstId + students[i].classIndex).text(random.pick(moralItems))
                .real(double(60 + random.below(41))).null().row();
        }
        Insert course(handle, "INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime, Remark) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?)");
        for (long long r = 0; r < rows; ++r) {
            const long long i = studentOf(r);
            const long long term = random.below(4);
            const long long year = students[i].entryYear + term / 2 + (term % 2);
            const long long beginMonth = term % 2 == 0 ? 9 : 3;
            const long long beginYear = year;
            course.number(firstId + i).number(firstId + random.below(scale.subjects))
                .number(firstId + random.below(scale.teachers)).text(terms[term])
                .text(isoDate(beginYear, beginMonth, 1 + random.below(14)))
                .text(isoDate(beginYear + (beginMonth == 9 ? 1 : 0), beginMonth == 9 ? 1 : 7, 1 + random.below(15)))
                .null().row();
        }
        made.otherRecords = rows;
        triggers.restore();
        db.exec("COMMIT");
        db.exec("PRAGMA locking_mode=NORMAL; PRAGMA journal_mode=DELETE;");
    } catch (const std::exception &e) {
        *error = QString::fromUtf8(e.what());
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(handle);
        if (fresh)
            QFile::remove(path);
        return {};
    }
    sqlite3_close(handle);
    made.seconds = timer.nsecsElapsed() / 1e9;
    return made;
}

}
