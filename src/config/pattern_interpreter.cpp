// The backtracking interpreter: no recursion, its stack lives on the heap.
#include <new>
#include <stdexcept>

#include "config/pattern_internal.h"
#include "config/pattern_matcher.h"

namespace flintmere {

namespace {

constexpr std::size_t kNone = MatchContext::kNoPosition;

class Machine {
  public:
    Machine(const PatternMatcher::Program& program, u16view input, MatchContext::State& st)
        : code_(program.code),
          input_(input),
          caseSensitive_(program.caseSensitive),
          st_(st),
          stack_(st.stack) {}

    bool Run() {
        const std::size_t end = input_.size();
        std::size_t pc = 0;
        std::size_t p = 0;
        std::size_t start = 0;
        std::uint64_t steps = 0;
        for (;;) {
            if (st_.stepLimit != 0 && ++steps > st_.stepLimit) {
                st_.stepLimitReached = true;
                return false;
            }
            if (pc >= code_.size()) return false;
            const Instruction ins = code_[pc];
            bool ok = true;
            switch (ins.kind) {
                case OpKind::Nop:
                    ++pc;
                    break;
                case OpKind::Symbol:
                    if (ins.operand == 0) {
                        ok = p == end;
                    } else {
                        ok = p < end && Unit(p) == ins.operand;
                        if (ok) ++p;
                    }
                    ++pc;
                    break;
                case OpKind::Any:
                    ok = p < end;
                    if (ok) ++p;
                    ++pc;
                    break;
                case OpKind::Class:
                case OpKind::NegatedClass: {
                    if (p >= end || ins.operand > code_.size()) {
                        ok = false;
                        break;
                    }
                    const char16_t c = Unit(p);
                    bool inRanges = false;
                    for (std::size_t i = pc + 1; i < ins.operand && !inRanges; ++i) {
                        const std::uint32_t pair = code_[i].operand;
                        inRanges = c >= (pair >> 16) && c <= (pair & 0xFFFF);
                    }
                    ok = inRanges == (ins.kind == OpKind::Class);
                    if (ok) ++p;
                    pc = ins.operand;
                    break;
                }
                case OpKind::Range:
                    return false;  // only ever read as part of a class
                case OpKind::Jump:
                    pc = ins.operand;
                    break;
                case OpKind::Call:
                    if (pc == 0) {
                        start = p;
                        st_.matchStart = p;
                    }
                    stack_.push_back(pc + 1);
                    pc = ins.operand;
                    break;
                case OpKind::Return:
                    ok = false;
                    break;
                case OpKind::PushPosition:
                    stack_.push_back(p);
                    ++pc;
                    break;
                case OpKind::PopPosition:
                    if (!Pop(p)) return false;
                    ++pc;
                    break;
                case OpKind::PushMemory:
                    stack_.push_back(Slot(ins.operand));
                    ++pc;
                    break;
                case OpKind::PopMemory:
                    if (!Pop(Slot(ins.operand))) return false;
                    ++pc;
                    break;
                case OpKind::StorePosition:
                    Slot(ins.operand) = p;
                    ++pc;
                    break;
                case OpKind::LoadPosition:
                    p = Slot(ins.operand);
                    ++pc;
                    break;
                case OpKind::StoreStackDepth:
                    Slot(ins.operand) = stack_.size();
                    ++pc;
                    break;
                case OpKind::LoadStackDepth: {
                    const std::size_t depth = Slot(ins.operand);
                    if (depth > stack_.size()) return false;
                    stack_.resize(depth);
                    ++pc;
                    break;
                }
                case OpKind::FailIfNoProgress:
                    ok = p != Slot(ins.operand);
                    ++pc;
                    break;
                case OpKind::BackReference:
                    ok = BackReference(ins.operand, p);
                    ++pc;
                    break;
                case OpKind::GroupStart:
                    Group(ins.operand).first = p;
                    ++pc;
                    break;
                case OpKind::GroupEnd:
                    Group(ins.operand).second = p;
                    ++pc;
                    break;
                case OpKind::PushGroup: {
                    const auto& g = Group(ins.operand);
                    stack_.push_back(g.first);
                    stack_.push_back(g.second);
                    ++pc;
                    break;
                }
                case OpKind::PopGroup: {
                    auto& g = Group(ins.operand);
                    if (!Pop(g.second) || !Pop(g.first)) return false;
                    ++pc;
                    break;
                }
                case OpKind::Fail:
                    return false;
                case OpKind::Advance:
                    // The empty position after the last code unit is never tried.
                    ++start;
                    if (start >= end) return false;
                    stack_.clear();
                    for (auto& g : st_.groups) g = {kNone, kNone};
                    p = start;
                    pc = 0;
                    break;
                case OpKind::Match:
                    st_.matchEnd = p;
                    return true;
            }
            if (!ok && !Pop(pc)) return false;
        }
    }

  private:
    char16_t Unit(std::size_t i) const { return caseSensitive_ ? input_[i] : LowerAZ(input_[i]); }

    bool Pop(std::size_t& out) {
        if (stack_.empty()) return false;
        out = stack_.back();
        stack_.pop_back();
        return true;
    }

    std::size_t& Slot(std::uint32_t index) {
        if (index >= st_.slots.size()) throw std::out_of_range("pattern slot");
        return st_.slots[index];
    }

    std::pair<std::size_t, std::size_t>& Group(std::uint32_t index) {
        if (index >= st_.groups.size()) throw std::out_of_range("pattern group");
        return st_.groups[index];
    }

    // A group that took no part, or is still open, stands for the empty text.
    bool BackReference(std::uint32_t group, std::size_t& p) {
        const auto [from, to] = Group(group);
        if (from == kNone || to == kNone || to <= from) return true;
        const std::size_t length = to - from;
        if (length > input_.size() - p) return false;
        for (std::size_t i = 0; i < length; ++i) {
            if (Unit(from + i) != Unit(p + i)) return false;
        }
        p += length;
        return true;
    }

    const std::vector<Instruction>& code_;
    u16view input_;
    bool caseSensitive_;
    MatchContext::State& st_;
    std::vector<std::size_t>& stack_;
};

void ClearResults(MatchContext::State& st) {
    st.matchStart = kNone;
    st.matchEnd = kNone;
    st.stepLimitReached = false;
    for (auto& g : st.groups) g = {kNone, kNone};
}

}  // namespace

bool PatternMatcher::Match(u16view input, MatchContext& context) const {
    MatchContext::State& st = context.state();
    ClearResults(st);
    if (!program_ || !program_->compiled) return false;
    bool matched = false;
    try {
        st.groups.assign(static_cast<std::size_t>(program_->groupCount), {kNone, kNone});
        st.slots.assign(program_->slotCount, 0);
        st.stack.clear();
        if (st.stack.capacity() < st.initialStack) st.stack.reserve(st.initialStack);
        Machine machine(*program_, input, st);
        matched = machine.Run();
    } catch (const std::bad_alloc&) {
        matched = false;
    } catch (const std::length_error&) {
        matched = false;
    } catch (const std::out_of_range&) {
        matched = false;
    }
    st.stack.clear();
    if (!matched) {
        const bool limited = st.stepLimitReached;
        ClearResults(st);
        st.stepLimitReached = limited;
    }
    return matched;
}

MatchContext::MatchContext(std::size_t initialStackEntries) : state_(std::make_unique<State>()) {
    state_->initialStack = initialStackEntries < 256 ? 256 : initialStackEntries;
}
MatchContext::~MatchContext() = default;
MatchContext::MatchContext(MatchContext&&) noexcept = default;
MatchContext& MatchContext::operator=(MatchContext&&) noexcept = default;

std::size_t MatchContext::MatchStart() const {
    return state_ ? state_->matchStart : kNone;
}
std::size_t MatchContext::MatchEnd() const {
    return state_ ? state_->matchEnd : kNone;
}
int MatchContext::GroupCount() const {
    return state_ ? static_cast<int>(state_->groups.size()) : 0;
}

std::size_t MatchContext::GroupStart(int index) const {
    if (index < 0 || index >= GroupCount()) return kNone;
    return state_->groups[static_cast<std::size_t>(index)].first;
}

std::size_t MatchContext::GroupEnd(int index) const {
    if (index < 0 || index >= GroupCount()) return kNone;
    return state_->groups[static_cast<std::size_t>(index)].second;
}

u16 MatchContext::GroupText(u16view input, int index) const {
    const std::size_t from = GroupStart(index);
    const std::size_t to = GroupEnd(index);
    if (from == kNone || to == kNone || to < from || to > input.size()) return u16();
    return u16(input.substr(from, to - from));
}

void MatchContext::SetStepLimit(std::uint64_t steps) {
    if (state_) state_->stepLimit = steps;
}

bool MatchContext::StepLimitReached() const {
    return state_ && state_->stepLimitReached;
}

}  // namespace flintmere
