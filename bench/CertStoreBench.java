// The JDK's LDAP CertStore as a peer of the benchmark: revocation lists of
// issuers, or CA certificates of subjects, fetched from a directory with the
// store's cache off (run with -Dsun.security.certpath.ldap.cache.lifetime=0).
//
//   java CertStoreBench crl|ca HOST PORT NAMES-FILE WARM TIMED
//
// NAMES-FILE holds one distinguished name a line. The names are looked up WARM
// times over without timing, then TIMED times over with timing. Prints
// "found=N seconds=S": what the last round found (CA certificates, or the
// revoked entries of the lists) and the wall time of the timed rounds. The JDK
// asks for the ";binary" attribute descriptions only.
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.security.cert.CertStore;
import java.security.cert.LDAPCertStoreParameters;
import java.security.cert.X509CRL;
import java.security.cert.X509CRLSelector;
import java.security.cert.X509CertSelector;
import java.util.List;
import java.util.Set;
import javax.security.auth.x500.X500Principal;

public final class CertStoreBench {
    private CertStoreBench() {}

    // Objects found for every name, once over.
    private static long round(CertStore store, boolean crls, List<String> names) throws Exception {
        long found = 0;
        for (String name : names) {
            X500Principal principal = new X500Principal(name);
            if (crls) {
                X509CRLSelector selector = new X509CRLSelector();
                selector.addIssuer(principal);
                for (Object crl : store.getCRLs(selector)) {
                    Set<?> revoked = ((X509CRL) crl).getRevokedCertificates();
                    found += revoked != null ? revoked.size() : 0;
                }
            } else {
                X509CertSelector selector = new X509CertSelector();
                selector.setSubject(principal);
                selector.setBasicConstraints(0); // CA certificates only
                found += store.getCertificates(selector).size();
            }
        }
        return found;
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 6 || !(args[0].equals("crl") || args[0].equals("ca"))) {
            System.err.println("usage: CertStoreBench crl|ca HOST PORT NAMES-FILE WARM TIMED");
            System.exit(2);
        }
        boolean crls = args[0].equals("crl");
        CertStore store = CertStore.getInstance(
                "LDAP", new LDAPCertStoreParameters(args[1], Integer.parseInt(args[2])));
        List<String> names = Files.readAllLines(Paths.get(args[3]), StandardCharsets.UTF_8);
        int warm = Integer.parseInt(args[4]);
        int timed = Integer.parseInt(args[5]);
        long found = 0;
        for (int i = 0; i < warm; ++i) {
            found = round(store, crls, names);
        }
        long start = System.nanoTime();
        for (int i = 0; i < timed; ++i) {
            found = round(store, crls, names);
        }
        double seconds = (System.nanoTime() - start) / 1e9;
        System.out.println("found=" + found + " seconds=" + seconds);
    }
}
