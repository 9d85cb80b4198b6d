// Gzip against the system's own gzip tool: what we write it reads, what it writes we read.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/foundation/testing/TestHome.h"
#include "platform/zazavaroveridiz/ZIZGzip.h"

namespace {

Data sample(size_t size) {
    Data data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 7919) % 251);
    return data;
}

// The output of a shell command over a file of ours.
std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    out += "|exit=" + std::to_string(pclose(pipe));
    return out;
}

void writeFile(const std::filesystem::path& path, const Data& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace

TEST(Gzip, SystemGzipReadsWhatWeWriteAndWeReadWhatItWrites) {
    TestHome home;
    for (size_t size : {size_t{0}, size_t{1}, size_t{300}, size_t{200000}}) {
        SCOPED_TRACE(size);
        const Data input = sample(size);
        auto compressed = ziz_dataByGzippingData(input);
        ASSERT_TRUE(compressed && !compressed->empty());
        const auto file = home.path() / "bundle.gz";
        writeFile(file, *compressed);
        EXPECT_EQ(run("gzip -t '" + file.string() + "' 2>&1"), "|exit=0");
        EXPECT_EQ(run("gzip -dc '" + file.string() + "'"),
                  std::string(input.begin(), input.end()) + "|exit=0");

        writeFile(home.path() / "plain", input);
        std::filesystem::remove(home.path() / "plain.gz");
        ASSERT_EQ(run("gzip -n '" + (home.path() / "plain").string() + "'"), "|exit=0");
        std::ifstream in(home.path() / "plain.gz", std::ios::binary);
        const Data theirs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(ziz_dataByInflatingGzippedData(theirs), input);
        EXPECT_EQ(ziz_dataByInflatingGzippedData(*compressed), input);
    }
}

TEST(Gzip, DamagedInputIsRefusedWithAnError) {
    const Data compressed = *ziz_dataByGzippingData(sample(1000));
    Data corrupt = compressed;
    corrupt[compressed.size() / 2] ^= 0xff;
    corrupt[compressed.size() - 6] ^= 0xff;  // the checksum too, whatever the middle byte did
    const Data cases[] = {
        Data(),
        Data(compressed.begin(), compressed.end() - 4),
        Data(compressed.begin(), compressed.begin() + 10),
        corrupt,
        Data{'n', 'o', 't', ' ', 'g', 'z', 'i', 'p'},
    };
    for (const Data& input : cases) {
        SCOPED_TRACE(input.size());
        Error error;
        EXPECT_EQ(ziz_dataByInflatingGzippedData(input, &error), std::nullopt);
        EXPECT_FALSE(error.description.empty());
    }
}
