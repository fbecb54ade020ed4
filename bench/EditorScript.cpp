#include "EditorScript.h"

#include <array>
#include <string_view>

namespace tarnwell::bench {

namespace {

// One group of lines; "#" is the group's number.
constexpr std::array<std::string_view, 10> kGroup = {
    "-- 第 # 批：客戶資料與訂單; 附註",
    "INSERT INTO 客戶 (編號, 名稱, 地址) VALUES (#, '王小明', '台北市；信義區');",
    "INSERT INTO orders VALUES (#, 'it''s -- no comment', NULL);",
    "/* 區塊註解 #: SELECT 1; still",
    "   a second line of the comment */",
    "SELECT 名稱 FROM 客戶 WHERE 名稱 LIKE '%台北%' AND 編號 > #;",
    "CREATE FUNCTION f#() RETURNS int AS $fn$",
    "  SELECT #; -- 函數內",
    "$fn$ LANGUAGE sql;",
    "UPDATE orders SET note = $$a; 'b'$$ WHERE \"Id\" = #;",
};

}  // namespace

std::string editorScript(int lines) {
    std::string script;
    script.reserve(static_cast<std::size_t>(lines) * 52);
    for (int line = 0; line < lines; ++line) {
        const std::string number = std::to_string(line / 10 + 1);
        for (char c : kGroup[static_cast<std::size_t>(line % 10)]) {
            if (c == '#') {
                script += number;
            } else {
                script += c;
            }
        }
        script += '\n';
    }
    return script;
}

}  // namespace tarnwell::bench
