// Pattern text -> syntax tree -> instruction list.
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "config/pattern_internal.h"
#include "config/pattern_matcher.h"

namespace flintmere {

namespace {

enum class NodeKind : std::uint8_t {
    Empty,
    Symbol,
    End,
    Any,
    Class,
    BackRef,
    Group,
    Seq,
    Alt,
    Neg,
    Repeat,
};

struct Node {
    NodeKind kind = NodeKind::Empty;
    bool nullable = false;
    bool negated = false;                               // Class
    bool lazy = false;                                  // Repeat
    bool loop = false;                                  // Repeat: no upper bound
    int min = 0;                                        // Repeat: 0 or 1
    std::uint32_t value = 0;                            // Symbol: code unit; Group, BackRef: group
    int groupFirst = 0;                                 // Neg: groups opened inside
    int groupEnd = 0;                                   //
    std::vector<std::pair<char16_t, char16_t>> ranges;  // Class
    std::vector<int> children;                          // Seq, Alt; one for Group, Neg, Repeat
};

struct Abbreviation {
    char16_t letter;
    const char16_t* text;
};

// Only the first quantified atom of each text is used; for q that leaves the
// double-quoted form alone.
constexpr Abbreviation kAbbreviations[] = {
    {u'a', u"([a-zA-Z0-9])"},
    {u'b', u"([ \\t])"},
    {u'c', u"([a-zA-Z])"},
    {u'd', u"([0-9])"},
    {u'h', u"([0-9a-fA-F])"},
    {u'n', u"(\r|(\r?\n))"},
    {u'q', u"(\"[^\"]*\")|('[^']*')"},
    {u'w', u"([a-zA-Z]+)"},
    {u'z', u"([0-9]+)"},
};

// Per group: -1 while it is open, else 1 when its body can match nothing.
struct GroupTable {
    std::vector<int> nullable;
};

class Parser {
  public:
    Parser(std::vector<Node>& nodes, GroupTable& groups, u16view text)
        : nodes_(nodes), groups_(groups), s_(text) {}

    PatternParseError error() const { return error_; }
    std::size_t pos() const { return pos_; }
    void skip(std::size_t n) { pos_ += n; }

    // A run of units up to the pattern's end or a closing character.
    int ParseSequence(int depth) {
        int seq = NewNode(NodeKind::Seq);
        bool nullable = true;
        while (!AtEnd() && !IsCloser(Peek())) {
            int unit = ParseUnit(depth);
            if (error_ != PatternOk) return -1;
            nullable = nullable && nodes_[unit].nullable;
            nodes_[seq].children.push_back(unit);
        }
        nodes_[seq].nullable = nullable;
        return seq;
    }

    // x|y|z binds single quantified atoms: x or (y or z).
    int ParseUnit(int depth) {
        int first = ParseQuantifiedAtom(depth);
        if (error_ != PatternOk || AtEnd() || Peek() != u'|') return first;
        int alt = NewNode(NodeKind::Alt);
        nodes_[alt].children.push_back(first);
        bool nullable = nodes_[first].nullable;
        while (!AtEnd() && Peek() == u'|') {
            ++pos_;
            int next;
            if (AtEnd() || IsCloser(Peek())) {
                next = NewNode(NodeKind::Empty);
                nodes_[next].nullable = true;
            } else {
                next = ParseQuantifiedAtom(depth);
                if (error_ != PatternOk) return -1;
            }
            nullable = nullable || nodes_[next].nullable;
            nodes_[alt].children.push_back(next);
        }
        nodes_[alt].nullable = nullable;
        return alt;
    }

    int ParseQuantifiedAtom(int depth) {
        int atom = ParseAtom(depth);
        if (error_ != PatternOk || AtEnd()) return atom;
        char16_t q = Peek();
        if (q != u'*' && q != u'+' && q != u'?') return atom;
        ++pos_;
        bool lazy = false;
        if (!AtEnd() && Peek() == u'?') {
            lazy = true;
            ++pos_;
        }
        if (q != u'?' && nodes_[atom].nullable) {
            return Fail(PatternEmptyLoop);
        }
        int rep = NewNode(NodeKind::Repeat);
        Node& r = nodes_[rep];
        r.lazy = lazy;
        r.loop = q != u'?';
        r.min = q == u'+' ? 1 : 0;
        r.nullable = r.min == 0 || nodes_[atom].nullable;
        r.children.push_back(atom);
        return rep;
    }

  private:
    bool AtEnd() const { return pos_ >= s_.size(); }
    char16_t Peek() const { return s_[pos_]; }
    static bool IsCloser(char16_t c) { return c == u')' || c == u']' || c == u'}'; }

    int NewNode(NodeKind kind) {
        nodes_.emplace_back();
        nodes_.back().kind = kind;
        return static_cast<int>(nodes_.size() - 1);
    }

    int Fail(PatternParseError e) {
        if (error_ == PatternOk) error_ = e;
        return -1;
    }

    int Literal(char16_t c) {
        int n = NewNode(NodeKind::Symbol);
        nodes_[n].value = c;
        return n;
    }

    bool Deeper(int depth) {
        if (depth + 1 > PatternMatcher::kMaxNesting) {
            Fail(PatternOutOfMemory);
            return false;
        }
        return true;
    }

    int ParseAtom(int depth) {
        if (AtEnd()) return Fail(PatternMissing);  // callers never get here
        const char16_t c = Peek();
        switch (c) {
            case u'(': {
                if (!Deeper(depth)) return -1;
                ++pos_;
                int body = ParseSequence(depth + 1);
                if (error_ != PatternOk) return -1;
                if (AtEnd() || Peek() != u')') return Fail(PatternParenthesisExpected);
                ++pos_;
                return body;
            }
            case u'{': {
                if (!Deeper(depth)) return -1;
                ++pos_;
                const int group = static_cast<int>(groups_.nullable.size());
                groups_.nullable.push_back(-1);
                int body = ParseSequence(depth + 1);
                if (error_ != PatternOk) return -1;
                if (AtEnd() || Peek() != u'}') return Fail(PatternBraceExpected);
                ++pos_;
                groups_.nullable[group] = nodes_[body].nullable ? 1 : 0;
                int n = NewNode(NodeKind::Group);
                nodes_[n].value = static_cast<std::uint32_t>(group);
                nodes_[n].nullable = nodes_[body].nullable;
                nodes_[n].children.push_back(body);
                return n;
            }
            case u'[':
                return ParseClass();
            case u'.':
                ++pos_;
                return NewNode(NodeKind::Any);
            case u'!': {
                ++pos_;
                // Nothing to negate: the '!' stands for itself.
                if (AtEnd() || IsCloser(Peek())) return Literal(u'!');
                if (!Deeper(depth)) return -1;
                const int groupFirst = static_cast<int>(groups_.nullable.size());
                int operand = ParseAtom(depth + 1);
                if (error_ != PatternOk) return -1;
                int n = NewNode(NodeKind::Neg);
                nodes_[n].nullable = true;
                nodes_[n].groupFirst = groupFirst;
                nodes_[n].groupEnd = static_cast<int>(groups_.nullable.size());
                nodes_[n].children.push_back(operand);
                return n;
            }
            case u'\\':
                ++pos_;
                return ParseEscape(depth);
            case u'$':
                ++pos_;
                if (pos_ == s_.size()) {
                    int n = NewNode(NodeKind::End);
                    nodes_[n].nullable = true;
                    return n;
                }
                return Literal(u'$');
            default:
                ++pos_;
                return Literal(c);
        }
    }

    int ParseEscape(int depth) {
        // A lone backslash at the end stands for itself.
        if (AtEnd()) return Literal(u'\\');
        const char16_t c = Peek();
        if (c >= u'0' && c <= u'9') {
            std::size_t number = 0;
            while (!AtEnd() && Peek() >= u'0' && Peek() <= u'9') {
                if (number <= groups_.nullable.size()) number = number * 10 + (Peek() - u'0');
                ++pos_;
            }
            if (number >= groups_.nullable.size()) return Fail(PatternUnknownGroup);
            int n = NewNode(NodeKind::BackRef);
            nodes_[n].value = static_cast<std::uint32_t>(number);
            // An open or unset group can stand for the empty text.
            nodes_[n].nullable = groups_.nullable[number] != 0;
            return n;
        }
        for (const Abbreviation& a : kAbbreviations) {
            if (a.letter != c) continue;
            ++pos_;
            if (!Deeper(depth)) return -1;
            Parser sub(nodes_, groups_, a.text);
            int atom = sub.ParseQuantifiedAtom(depth + 1);
            if (sub.error() != PatternOk) {
                return Fail(sub.error() == PatternOutOfMemory ? PatternOutOfMemory
                                                              : PatternAbbreviationFailed);
            }
            return atom;
        }
        ++pos_;
        return Literal(c);
    }

    // Reads one class member, `\x` escaped (`\t` is a tab). False at the end.
    bool ClassUnit(char16_t& out) {
        if (AtEnd()) return false;
        out = s_[pos_++];
        if (out == u'\\') {
            if (AtEnd()) return false;
            out = s_[pos_++];
            if (out == u't') out = u'\t';
        }
        return true;
    }

    int ParseClass() {
        ++pos_;
        int n = NewNode(NodeKind::Class);
        if (!AtEnd() && Peek() == u'^') {
            nodes_[n].negated = true;
            ++pos_;
        }
        if (AtEnd()) return Fail(PatternBracketExpected);
        if (Peek() == u']') return Fail(PatternEmptyClass);
        while (true) {
            if (AtEnd()) return Fail(PatternBracketExpected);
            if (Peek() == u']') {
                ++pos_;
                break;
            }
            char16_t lo = 0;
            if (!ClassUnit(lo)) return Fail(PatternBracketExpected);
            char16_t hi = lo;
            if (!AtEnd() && Peek() == u'-') {
                ++pos_;
                if (AtEnd() || Peek() == u']') return Fail(PatternBracketExpected);
                if (!ClassUnit(hi)) return Fail(PatternBracketExpected);
                if (hi < lo) return Fail(PatternBadRange);
            }
            nodes_[n].ranges.emplace_back(lo, hi);
        }
        return n;
    }

    std::vector<Node>& nodes_;
    GroupTable& groups_;
    u16view s_;
    std::size_t pos_ = 0;
    PatternParseError error_ = PatternOk;
};

class Compiler {
  public:
    Compiler(const std::vector<Node>& nodes, std::vector<Instruction>& code)
        : nodes_(nodes), code_(code) {}

    std::uint32_t slotCount() const { return slots_; }

    void Compile(int index) {
        const Node& n = nodes_[static_cast<std::size_t>(index)];
        switch (n.kind) {
            case NodeKind::Empty:
                Emit(OpKind::Nop);
                break;
            case NodeKind::Symbol:
                Emit(OpKind::Symbol, n.value);
                break;
            case NodeKind::End:
                Emit(OpKind::Symbol, 0);
                break;
            case NodeKind::Any:
                Emit(OpKind::Any);
                break;
            case NodeKind::Class: {
                std::size_t head = Emit(n.negated ? OpKind::NegatedClass : OpKind::Class);
                for (const auto& [lo, hi] : n.ranges) {
                    Emit(OpKind::Range, static_cast<std::uint32_t>(lo) << 16 | hi);
                }
                Patch(head);
                break;
            }
            case NodeKind::BackRef:
                Emit(OpKind::BackReference, n.value);
                break;
            case NodeKind::Seq:
                if (n.children.empty()) Emit(OpKind::Nop);
                for (int child : n.children) Compile(child);
                break;
            case NodeKind::Group:
                CompileGroup(n);
                break;
            case NodeKind::Alt:
                CompileAlternatives(n);
                break;
            case NodeKind::Neg:
                CompileNegation(n);
                break;
            case NodeKind::Repeat:
                CompileRepeat(n);
                break;
        }
    }

  private:
    std::size_t Emit(OpKind kind, std::uint32_t operand = 0) {
        code_.push_back(Instruction{kind, operand});
        return code_.size() - 1;
    }
    std::uint32_t Here() const { return static_cast<std::uint32_t>(code_.size()); }
    void Patch(std::size_t at) { code_[at].operand = Here(); }

    // Old bounds are saved so that backtracking through the group restores them.
    void CompileGroup(const Node& n) {
        Emit(OpKind::PushGroup, n.value);
        std::size_t call = Emit(OpKind::Call);
        Emit(OpKind::PopGroup, n.value);
        Emit(OpKind::Return);
        Patch(call);
        Emit(OpKind::GroupStart, n.value);
        Compile(n.children[0]);
        Emit(OpKind::GroupEnd, n.value);
    }

    // Each alternative but the last: save p, try it; on failure restore p and
    // go on with the rest of the chain.
    void CompileAlternatives(const Node& n) {
        std::vector<std::size_t> toEnd;
        for (std::size_t i = 0; i + 1 < n.children.size(); ++i) {
            Emit(OpKind::PushPosition);
            std::size_t call = Emit(OpKind::Call);
            Emit(OpKind::PopPosition);
            std::size_t next = Emit(OpKind::Jump);
            Patch(call);
            Compile(n.children[i]);
            toEnd.push_back(Emit(OpKind::Jump));
            Patch(next);
        }
        Compile(n.children.back());
        for (std::size_t at : toEnd) Patch(at);
    }

    void CompileNegation(const Node& n) {
        // The operand's captures vanish with its stack entries when it matches;
        // keep the bounds of its groups so that backtracking past here restores them.
        if (n.groupEnd > n.groupFirst) {
            for (int g = n.groupFirst; g < n.groupEnd; ++g) {
                Emit(OpKind::PushGroup, static_cast<std::uint32_t>(g));
            }
            std::size_t call = Emit(OpKind::Call);
            for (int g = n.groupEnd - 1; g >= n.groupFirst; --g) {
                Emit(OpKind::PopGroup, static_cast<std::uint32_t>(g));
            }
            Emit(OpKind::Return);
            Patch(call);
        }
        const std::uint32_t position = slots_++;
        const std::uint32_t depth = slots_++;
        Emit(OpKind::StorePosition, position);
        Emit(OpKind::StoreStackDepth, depth);
        std::size_t call = Emit(OpKind::Call);
        // Operand failed: the negation holds.
        Emit(OpKind::LoadStackDepth, depth);
        Emit(OpKind::LoadPosition, position);
        std::size_t after = Emit(OpKind::Jump);
        Patch(call);
        Compile(n.children[0]);
        // Operand matched: drop what it left and fail.
        Emit(OpKind::LoadStackDepth, depth);
        Emit(OpKind::LoadPosition, position);
        Emit(OpKind::Return);
        Patch(after);
    }

    void CompileRepeat(const Node& n) {
        if (!n.loop) {
            Emit(OpKind::PushPosition);
            std::size_t call = Emit(OpKind::Call);
            Emit(OpKind::PopPosition);
            if (n.lazy) {
                // Skip first; one occurrence only when what follows fails.
                Compile(n.children[0]);
                Patch(call);
            } else {
                std::size_t skip = Emit(OpKind::Jump);
                Patch(call);
                Compile(n.children[0]);
                Patch(skip);
            }
            return;
        }
        // The slot holds where the current pass began; every pass saves the
        // previous value so that backtracking into an earlier pass sees its own.
        const std::uint32_t slot = slots_++;
        if (n.lazy) {
            std::size_t toFirst = 0;
            if (n.min == 1) {
                Emit(OpKind::PushMemory, slot);
                toFirst = Emit(OpKind::Jump);
            }
            const std::uint32_t loop = Here();
            Emit(OpKind::PushMemory, slot);
            Emit(OpKind::PushPosition);
            std::size_t exit = Emit(OpKind::Call);
            Emit(OpKind::PopPosition);
            if (n.min == 1) Patch(toFirst);
            std::size_t pass = Emit(OpKind::Call);
            Emit(OpKind::PopMemory, slot);
            Emit(OpKind::Return);
            Patch(pass);
            CompilePass(n, slot, loop);
            Patch(exit);
        } else {
            std::size_t first = 0;
            if (n.min == 1) {
                Emit(OpKind::PushMemory, slot);
                first = Emit(OpKind::Call);
                Emit(OpKind::PopMemory, slot);
                Emit(OpKind::Return);
            }
            const std::uint32_t loop = Here();
            Emit(OpKind::PushMemory, slot);
            Emit(OpKind::PushPosition);
            std::size_t pass = Emit(OpKind::Call);
            Emit(OpKind::PopPosition);
            Emit(OpKind::PopMemory, slot);
            std::size_t exit = Emit(OpKind::Jump);
            Patch(pass);
            if (n.min == 1) Patch(first);
            CompilePass(n, slot, loop);
            Patch(exit);
        }
    }

    void CompilePass(const Node& n, std::uint32_t slot, std::uint32_t loop) {
        Emit(OpKind::StorePosition, slot);
        Compile(n.children[0]);
        Emit(OpKind::FailIfNoProgress, slot);
        Emit(OpKind::Jump, loop);
    }

    const std::vector<Node>& nodes_;
    std::vector<Instruction>& code_;
    std::uint32_t slots_ = 0;
};

PatternParseError Build(u16view pattern, bool caseSensitive, PatternMatcher::Program& program) {
    pattern = pattern.substr(0, pattern.find(u'\0'));
    if (pattern.empty()) return PatternMissing;
    u16 text(pattern);
    if (!caseSensitive) {
        for (char16_t& c : text) c = LowerAZ(c);
    }
    bool anchored = text[0] == u'^';
    std::vector<Node> nodes;
    GroupTable groups;
    Parser parser(nodes, groups, text);
    if (anchored) parser.skip(1);
    // An unmatched closing character ends the pattern; the rest is ignored.
    int root = parser.ParseSequence(0);
    if (parser.error() != PatternOk) return parser.error();

    std::vector<Instruction> code;
    code.push_back({OpKind::Call, 2});
    code.push_back({anchored ? OpKind::Fail : OpKind::Advance, 0});
    Compiler compiler(nodes, code);
    compiler.Compile(root);
    code.push_back({OpKind::Match, 0});
    if (code.size() >= std::numeric_limits<std::uint32_t>::max()) return PatternOutOfMemory;

    program.code = std::move(code);
    program.groupCount = static_cast<int>(groups.nullable.size());
    program.slotCount = compiler.slotCount();
    return PatternOk;
}

}  // namespace

PatternMatcher::PatternMatcher() : program_(std::make_unique<Program>()) {}
PatternMatcher::~PatternMatcher() = default;
PatternMatcher::PatternMatcher(PatternMatcher&&) noexcept = default;
PatternMatcher& PatternMatcher::operator=(PatternMatcher&&) noexcept = default;

PatternParseError PatternMatcher::Parse(u16view pattern, bool caseSensitive) {
    PatternParseError result;
    try {
        if (!program_) program_ = std::make_unique<Program>();
        *program_ = Program{};
        program_->caseSensitive = caseSensitive;
        result = Build(pattern, caseSensitive, *program_);
    } catch (const std::bad_alloc&) {
        result = PatternOutOfMemory;
    } catch (const std::length_error&) {
        result = PatternOutOfMemory;
    }
    if (!program_) return result;
    if (result != PatternOk) {
        program_->code.clear();
        program_->code.shrink_to_fit();
        program_->groupCount = 0;
        program_->slotCount = 0;
    }
    program_->compiled = result == PatternOk;
    program_->lastError = result;
    return result;
}

int PatternMatcher::GroupCount() const {
    return program_ ? program_->groupCount : 0;
}

PatternParseError PatternMatcher::LastError() const {
    return program_ ? program_->lastError : PatternMissing;
}

}  // namespace flintmere
