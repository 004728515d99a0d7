// Persistence and the script interface: rules that a round trip alone would not catch.
#include "plugin/fixture.h"
#include "runtime/chunks.h"

namespace {
using testing_support::PluginTest;

class PersistenceRules : public PluginTest {
  protected:
    static std::string Chunk(USHORT id, const std::string& payload) {
        vm::ChunkWriter w;
        w.BeginChunk(id);
        ULONG written = 0;
        w.Write(payload.data(), static_cast<ULONG>(payload.size()), &written);
        w.EndChunk();
        return w.Bytes();
    }
};

// Slip: swapped chunk ids would still round-trip.
TEST_F(PersistenceRules, SaveWritesTheTwoChunksByIdInOrder) {
    ScriptedTessarin* mod = NewTessarin();
    mod->SetAFlag(A_MOD_DISABLED_INVIEWS);
    vm::ChunkWriter writer;
    mod->Save(&writer);
    vm::ChunkReader reader(writer.Bytes());
    std::vector<std::pair<USHORT, int>> chunks;
    while (reader.OpenChunk() == IO_OK) {
        int v = -1;
        ULONG read = 0;
        USHORT id = reader.CurChunkID();
        if (id == 0x2120 || id == 0x2130) {
            EXPECT_EQ(reader.Read(&v, 4, &read), IO_OK);
            EXPECT_EQ(reader.Read(&v, 1, &read), IO_ERROR) << "payload of exactly four bytes";
            chunks.push_back({id, v});
        }
        reader.CloseChunk();
    }
    EXPECT_EQ(chunks, (std::vector<std::pair<USHORT, int>>{{0x2120, 1}, {0x2130, 0}}));
    mod->DeleteThis();
}

// Slip: reading straight into the field lets a short payload overwrite part of it.
TEST_F(PersistenceRules, AShortChunkLeavesItsFlagAndUnknownChunksAreSkipped) {
    ScriptedTessarin* mod = NewTessarin();
    std::string zero4(4, '\0');
    vm::ChunkReader reader(Chunk(0x2120, std::string(2, '\0')) + Chunk(0x7777, zero4) + Chunk(0x2130, zero4));
    mod->Load(&reader);
    EXPECT_EQ(mod->SavedEnabled(), 1);
    EXPECT_EQ(mod->SavedViewEnabled(), 0);
    reader.RunPostLoadCallbacks();
    mod->DeleteThis();
}

TEST_F(PersistenceRules, NoWarningForAFileInTheFallbackFolderOrForNoName) {
    WriteBytes(Path("walk.sel"), sel::EncodeFile(1, Samples({{0.5f}})));
    scene_.SetDirectory(2, dir_.string());
    ScriptedTessarin* found = NewTessarin();
    SetFile(found, "/moved/away/walk.sel");
    ScriptedTessarin* unnamed = NewTessarin();
    vm::ChunkReader reader("");
    found->Load(&reader);
    unnamed->Load(&reader);
    reader.RunPostLoadCallbacks();
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
    EXPECT_TRUE(vm::Record().log.empty());
    EXPECT_EQ(found->StatusCode(), 0);
    EXPECT_EQ(unnamed->StatusCode(), 0);
    found->DeleteThis();
    unnamed->DeleteThis();
}

TEST_F(PersistenceRules, DispatchOfAnUnknownIdAnswersMinusOneAndDoesNothing) {
    ScriptedTessarin* mod = NewTessarin();
    Modifier* below = new vm::Trim({});
    AddNode("n", 1, {below, mod});
    vm::Record().Clear();
    FPValue result;
    auto* fpi = static_cast<TessarinInterface*>(mod);
    for (int id : {4, -1, 0x7fff})
        EXPECT_EQ(fpi->Dispatch(static_cast<FunctionID>(id), 0, result, nullptr), -1) << id;
    EXPECT_TRUE(vm::Record().filePrompts.empty());
    EXPECT_TRUE(vm::Record().redraws.empty());
    EXPECT_TRUE(below->IsEnabled());
}
} // namespace
