// The Java agent of the trial tests: says how it was started, then ends.
// Built into startup.jar with: javac --release 8 Agent.java &&
//   jar cfe startup.jar Agent Agent.class
public class Agent {
  public static void main(String[] args) {
    System.out.println("java agent: started with " + args.length + " argument(s)");
  }
}
